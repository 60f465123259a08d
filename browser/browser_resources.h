// Resources of the browser dialog: the dialog template with its list data, and the tree images.
#pragma once

#include "browser/dialog_layer.h"

constexpr int IDD_BROWSER = 102;
constexpr int IDB_TREE_IMAGES = 132;
constexpr int IDC_POLLING = 5;
constexpr int IDC_CLEAR_OPTIONS = 6;
constexpr int IDC_TREE = 1000;
constexpr int IDC_ADDRESS = 1001;
constexpr int IDC_REFRESH = 1002;
constexpr int IDC_MACRO = 1003;
constexpr int IDC_BINDING = 1004;
constexpr int IDC_TYPES = 1005;

// Tree image indices the dialog depends on.
constexpr int kImageDevice = 6;
constexpr int kImageNV = 8;
constexpr int kImageNVField = 10;
constexpr int kTreeImageCount = 14;
constexpr int kTreeImageWidth = 16;
constexpr int kTreeImageHeight = 13;
constexpr uint32_t kTreeImageMask = 0xFF00FF;

const DialogTemplate& BrowserTemplate();
