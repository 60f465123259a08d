// Built when no window toolkit was found: a dialog can run only through a script.
#include "browser/dialog_backend.h"

int RunWindowDialog(CDialog&, std::string* whyNot) {
  *whyNot = "this build has no window toolkit";
  return -1;
}
