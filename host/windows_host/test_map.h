#pragma once

// The test host's map application: the host interfaces of the IDL over a small map held
// in memory (layers, a group, features whose shapes are points and rectangles,
// selections), a status bar that records the progress bar's calls, and the creatable
// classes AppRef, SpatialFilter and ModelessFrame registered for this process.

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "host_objects.h"

namespace test_host {

/// A point (x1 = x2, y1 = y2) or a rectangle.
struct Shape {
    double x1, y1, x2, y2;
};

struct MapLayer {
    std::wstring name;
    std::vector<Shape> shapes;  // object ids 1, 2, ...
};

/// What the host saw, for the checks.
struct Record {
    std::vector<std::wstring> progress;  // the progress bar's calls, in order
    int refreshes = 0;
    std::vector<HWND> frames;            // one per ModelessFrame.Create, the frame windows
    std::vector<HWND> dialogs;           // the dialog windows the frames hold
};

/// Builds the map: top-level feature layers, then a group holding `grouped`.
void MakeMap(const std::vector<MapLayer>& layers, const std::wstring& group, const std::vector<MapLayer>& grouped);
/// Registers AppRef, SpatialFilter and ModelessFrame for this process.
void RegisterHostClasses();
void RevokeHostClasses();
/// The application, as the hook OnCreate takes (an automation object that answers IApplication).
IDispatch* Hook();
/// An automation object that is not an application (a hook OnCreate cannot use).
IDispatch* PlainHook();
/// From now on, the application's document is not a map document.
void UseOtherDocument(bool other);
/// From now on, the progress bar's Show fails with E_FAIL and a description.
void FailProgressShow(bool fail);
/// The object ids selected in a feature layer of the map.
std::set<LONGLONG> Selected(const std::wstring& layer);
Record& Seen();
/// The application's main window (the frames' owner).
HWND MainWindow();

}  // namespace test_host
