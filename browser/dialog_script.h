/* Scripted use of the "LonWorks browser" dialog without a window: tests and the host simulator
 * drive the dialog's controls through this table instead of a user. Plain C so that any host
 * can supply a script.
 *
 * A script runs inside the browse command, in place of the dialog's modal loop, after the
 * dialog was initialised (tree filled, lists and option buttons disabled). It returns once it
 * has clicked OK (1) or Cancel (2) or the close box (0). When it returns without having ended
 * the dialog, the dialog ends as with the close box if the script returned 0, and as a dialog
 * that could not be shown if it returned nonzero. After the dialog has ended every call
 * returns -1 and changes nothing.
 *
 * Installation: code linked with the driver archive calls SetDialogScript; a host that loads
 * libtelmar.so exports the function TelmarDialogScript from its own executable (link it with
 * -rdynamic / ENABLE_EXPORTS), which the driver looks up at each browse command. A script set
 * with SetDialogScript goes first. */
#ifndef TELMAR_BROWSER_DIALOG_SCRIPT_H
#define TELMAR_BROWSER_DIALOG_SCRIPT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Control ids of the dialog. */
enum {
  kTelmarCloseBox = 0,
  kTelmarIdOk = 1,
  kTelmarIdCancel = 2,
  kTelmarIdPolling = 5,
  kTelmarIdClearOptions = 6,
  kTelmarIdTree = 1000,
  kTelmarIdAddress = 1001,
  kTelmarIdRefresh = 1002,
  kTelmarIdMacro = 1003,
  kTelmarIdBinding = 1004,
  kTelmarIdTypes = 1005
};

typedef struct TelmarDialog TelmarDialog; /* opaque; valid only during the script's call */

typedef struct TelmarDialogApi {
  /* Selects the tree item whose path is `path` ("Building.Floor1.Room101.nvoSpaceTemp": the
   * texts below the first root item joined by "."; "" selects the first root item). The first
   * match in tree order wins. Fires the selection-change handler when the selection changes
   * (selecting the item already selected changes nothing). 0, or -1 when no item has the path. */
  int (*selectTreePath)(TelmarDialog* dlg, const char* path);
  /* Sets the selection of the binding list (1004) or the types list (1005); -1 clears it.
   * Fires the list's selection-change handler. 0, or -1 when the list is disabled or the index
   * is out of range. */
  int (*selectBinding)(TelmarDialog* dlg, int index);
  int (*selectType)(TelmarDialog* dlg, int index);
  /* Clicks a button: 5, 6, 1002, 1 (OK), 2 (Cancel), or 0 for the close box. 0, or -1 when the
   * control is unknown or disabled. */
  int (*click)(TelmarDialog* dlg, int controlId);
  /* Copies a control's text (edits: their text; buttons: their label; lists: the selected
   * entry or ""; tree: the selected item's text or "") into buf, cut to size - 1 characters and
   * always NUL-terminated when size > 0. Returns the text's full length, or -1 for an unknown
   * control. */
  int (*getText)(TelmarDialog* dlg, int controlId, char* buf, size_t size);
  /* 1 enabled, 0 disabled, -1 unknown control. */
  int (*isEnabled)(TelmarDialog* dlg, int controlId);
  /* Lists: the selected index or -1. Tree: the selected item's index in tree order or -1. */
  int (*getSelection)(TelmarDialog* dlg, int controlId);
  /* Number of entries of a list, or of items of the tree; -1 for another control. */
  int (*itemCount)(TelmarDialog* dlg, int controlId);
  /* Entry `index` of a list, or item `index` of the tree in tree order (parents before their
   * children, siblings in insertion order). Text as getText; *image receives the tree item's
   * image index (-1 for lists) and *depth its depth (0 for root items and list entries); both
   * may be null. Returns the text's full length, or -1 when there is no such entry. */
  int (*getItem)(TelmarDialog* dlg, int controlId, int index, char* buf, size_t size, int* image,
                 int* depth);
} TelmarDialogApi;

/* A script set from code linked with the driver archive; context is passed through. */
typedef int (*TelmarDialogScriptFn)(const TelmarDialogApi* api, TelmarDialog* dlg, void* context);

/* The optional function a host executable exports to script the dialog. */
typedef int (*TelmarHostDialogScriptFn)(const TelmarDialogApi* api, TelmarDialog* dlg);
#define TELMAR_DIALOG_SCRIPT_SYMBOL "TelmarDialogScript"

#ifdef __cplusplus
}

/* Installs (fn non-null) or removes (fn null) the script used by every later browse command
 * of this process. Not to be called while a browse command runs. */
void SetDialogScript(TelmarDialogScriptFn fn, void* context);
#endif

#endif /* TELMAR_BROWSER_DIALOG_SCRIPT_H */
