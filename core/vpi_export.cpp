// libtelmar.so is the driver archive linked whole; its only exported symbol is VpiMain
// (core/telmar.map). This file exists because a shared library target needs a source of its own.
