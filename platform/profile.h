// Reading of initialisation (profile) files: "[Section]" headers followed by "key=value" lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Copies the value of key in section into buffer (at most size - 1 characters and a NUL) and
// returns the number of characters copied; a missing file, section or key gives `fallback`.
size_t ProfileGetString(const char* section, const char* key, const char* fallback, char* buffer,
                        size_t size, const char* path);
// Integer value of key; a missing file, section, key or an empty value gives `fallback`.
int ProfileGetInt(const char* section, const char* key, int fallback, const char* path);
// The names of the keys of section that have a value (a line with '='), as written and in the
// order of the file, read as ProfileGetString reads the file; comments are not keys. Empty for
// a missing file or section.
std::vector<std::string> ProfileKeys(const char* section, const char* path);
// The path under which the profile functions find the file `name` in the working directory
// ("./name", on Windows ".\\name": a bare name would be looked up in the system's folder).
std::string ProfileLocalPath(const char* name);
