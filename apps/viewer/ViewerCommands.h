#pragma once
// Menu command identifiers of tovira_viewer (also used by its test to drive it).

enum ViewerCommand {
    kSnapshot = 100,
    kRecord5,
    kRecord10,
    kExit,
    kCameraDialog = 200,
    kAnalogDialog,
    kImageDialog,
    kStart = 300,
    kStop,
    kMode8 = 400,
    kMode24,
    kMode48,
};
