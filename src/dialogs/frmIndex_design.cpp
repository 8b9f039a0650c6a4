#include "dialogs/frmIndex_design.h"

#include <string>

#include "dialogs/design_terms.h"
#include "dialogs/dialog.h"
#include "resources/resource_names.h"
#include "state/shared_state.h"

namespace selvane::dialogs {
namespace {

using namespace design;

constexpr Rgb kBackground{0xAB, 0xB5, 0xC1};
constexpr Rgb kMaroon{0x80, 0x00, 0x00};
constexpr Rgb kLayerListBack{0xFF, 0xFF, 0xDD};
constexpr Rgb kRelationshipFore{0x57, 0x0D, 0x46};
constexpr Rgb kRelationshipBack{0xF2, 0xE1, 0xEB};
constexpr Rgb kBlue{0x00, 0x00, 0xFF};
constexpr Rgb kVersionGrey{0xE0, 0xE0, 0xE0};
constexpr Rgb kBlack{0x00, 0x00, 0x00};

ControlDesign Control(std::string name, ControlKind kind, std::string caption,
                      platform::TwipsRect position, std::string container, int tab_index) {
    ControlDesign control;
    control.name = std::move(name);
    control.kind = kind;
    control.caption = std::move(caption);
    control.position = position;
    control.container = std::move(container);
    control.tab_index = tab_index;
    control.back_colour = kBackground;
    control.fore_colour = kBlack;
    return control;
}

ControlDesign LayerRowLabel(std::string name, std::string caption, platform::TwipsRect position,
                            int tab_index) {
    auto label = Control(std::move(name), ControlKind::Label, std::move(caption), position,
                         "Frame2", tab_index);
    label.fore_colour = kWhite;
    return label;
}

void UseDialogCursor(ControlDesign& control) {
    control.cursor = resources::kDialogCursor;
    control.cursor_hot_x = resources::kCursorHotSpotX;
    control.cursor_hot_y = resources::kCursorHotSpotY;
}

ControlDesign Picker(std::string name, platform::TwipsRect position, int tab_index, Rgb fore,
                     Rgb back) {
    auto picker = Control(std::move(name), ControlKind::ComboBox, "", position, "Frame2", tab_index);
    picker.fore_colour = fore;
    picker.back_colour = back;
    UseDialogCursor(picker);
    return picker;
}

ControlDesign PictureButton(std::string name, std::string caption, std::string tooltip,
                            platform::TwipsRect position, int tab_index) {
    auto button = Control(std::move(name), ControlKind::Button, std::move(caption), position, "", tab_index);
    button.tooltip = std::move(tooltip);
    button.picture.file = resources::kButtonBackground;
    UseDialogCursor(button);
    return button;
}

platform::FormDesign MakeIndexDesign() {
    platform::FormDesign design;
    design.name = "frmMain";
    design.caption = state::kProductName;
    design.client_width = 6285;
    design.client_height = 3780;
    design.back_colour = kBackground;

    auto outer = Control("Frame1", ControlKind::Frame, "Select features using a spatial relationship",
                         {120, 120, 6015, 3495}, "", 6);
    outer.fore_colour = kMaroon;
    auto layers = Control("Frame2", ControlKind::Frame, "Layers", {180, 360, 5655, 1755}, "Frame1", 8);

    auto relationship = Picker("cboRelationship", {2220, 780, 3255, 315}, 1, kRelationshipFore,
                               kRelationshipBack);
    relationship.tooltip =
        "Choose a relationship to define the spatial processing between Layer #1 and Layer #2";

    auto count = Control("lblCount", ControlKind::Label, "", {2460, 2580, 1455, 375}, "Frame1", 30);
    count.fore_colour = kBlue;
    count.font.points = 12;
    count.align = TextAlign::Centre;

    auto logo = Control("Image2", ControlKind::PictureBox, "", {180, 2520, 1800, 750}, "Frame1", -1);
    logo.tooltip = std::string("For more information, please visit ") + state::kMakerWebHost +
                   " or email " + state::kInfoEmail;
    logo.picture.file = resources::kMakerLogo;
    logo.picture.width = 120;
    logo.picture.height = 50;
    logo.has_border = false;

    auto help = PictureButton("btnHelp2", "?", "Help", {5400, 2640, 435, 330}, 5);
    help.container = "Frame1";
    help.font.points = 9.75;
    help.font.bold = false;

    auto version = Control("txtVersion", ControlKind::Label, "", {4620, 2700, 675, 255}, "Frame1", 10);
    version.fore_colour = kVersionGrey;
    version.align = TextAlign::Right;

    auto clear = PictureButton("Command1", "Clear Selection", "Clear all selected features",
                               {4140, 2220, 1710, 315}, 3);
    clear.container = "Frame1";
    auto select = PictureButton("btnNext", "Select Features", "Begin processing!",
                                {2340, 3060, 3510, 315}, 4);
    select.container = "Frame1";

    design.controls = {
        outer,
        layers,
        LayerRowLabel("Label4", "Select all features in layer", {240, 360, 1995, 435}, 12),
        Picker("cboSearchLayers", {2220, 360, 3255, 315}, 2, kBlack, kLayerListBack),
        LayerRowLabel("Label6", "Whose features", {240, 780, 1815, 315}, 11),
        relationship,
        LayerRowLabel("Label5", "Features in layer", {240, 1200, 1875, 435}, 9),
        Picker("cboMapLayers", {2220, 1200, 3255, 315}, 0, kBlack, kLayerListBack),
        clear,
        Control("Label8", ControlKind::Label, "Selection Count:", {2460, 2280, 1575, 255}, "Frame1", 31),
        count,
        logo,
        help,
        version,
        select,
    };
    return design;
}

}  // namespace

const platform::FormDesign& frmIndexDesign() { return DrawnOnce<MakeIndexDesign>(); }

}  // namespace selvane::dialogs
