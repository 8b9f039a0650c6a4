// The dialog's run, as a user of the host application goes through it: the command's
// button, the pickers, "Select Features", the help window, closing and opening again.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check_output.h"
#include "checks.h"
#include "shell_sink.h"
#include "test_map.h"
#include "window_probes.h"

namespace test_host {

std::wstring g_picture_path;

void CheckDialogRun(ICommand* command) {
    using test_host::Shape;
    std::vector<Shape> parcels;
    for (int i = 0; i < 6; ++i) parcels.push_back({i * 10.0, 0, i * 10.0 + 10, 10});
    const std::vector<Shape> wells{{5, 5, 5, 5}, {25, 5, 25, 5}, {30, 5, 30, 5}, {100, 100, 100, 100}};
    // The last layer's name would reverse the text around it and clear a terminal.
    test_host::MakeMap({{L"Parcels", parcels}, {L"Wells", wells}, {L"\u202esllew\x1b[2J", wells}}, L"Base",
                       {{L"Roads", {{0, 4, 60, 6}}}});
    test_host::RegisterHostClasses();
    StartWatchingMessageBoxes();

    Expect(SUCCEEDED(command->OnCreate(test_host::Hook())) && TakeBoxes().empty(), L"OnCreate takes the application");
    VARIANT_BOOL enabled = VARIANT_FALSE;
    Expect(SUCCEEDED(command->get_Enabled(&enabled)) && enabled == VARIANT_TRUE, L"Enabled is true after OnCreate");
    ExpectText(command, &ICommand::get_Caption, L"Selvane", L"Caption after OnCreate");
    ExpectText(command, &ICommand::get_Name, L"Tollamar_Selvane", L"Name after OnCreate");
    Expect(SUCCEEDED(command->OnClick()), L"OnClick returns success");
    auto& seen = test_host::Seen();
    Expect(seen.dialogs.size() == 1 && IsWindowVisible(seen.frames.front()),
           L"a press shows the dialog in a frame of the host");
    if (seen.dialogs.size() == 1) {
        HWND dialog = seen.dialogs.front();
        Expect(TextOf(seen.frames.front()) == L"Selvane", L"the frame's caption is Selvane (" + TextOf(seen.frames.front()) + L")");
        const auto pickers = Pickers(dialog);
        Expect(pickers.size() == 3, L"the dialog has three pickers");
        Expect(TakeBoxes().empty(), L"the dialog opens without a message box");
        HWND logo = nullptr;
        for (HWND picture : Children(dialog, L"Static")) {
            if ((GetWindowLongW(picture, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) logo = picture;
        }
        RECT logo_area{};
        if (logo) GetWindowRect(logo, &logo_area);
        const LRESULT hit = logo ? SendMessageW(logo, WM_NCHITTEST, 0, MAKELPARAM(logo_area.left + 2, logo_area.top + 2)) : 0;
        Expect(hit == HTCLIENT, L"the logo answers the pointer, so that its tooltip can show (hit test " +
                                    std::to_wstring(hit) + L")");
        Expect(GroupBoxes(dialog) == 2, L"the dialog's two frames with borders are group boxes");
        if (pickers.size() == 3) {
            // The layer lists on #FFFFDD, the relationship list on #F2E1EB: the closed
            // field and the list that drops down.
            const long backs[] = {0xFFFFDD, 0xF2E1EB, 0xFFFFDD};
            for (std::size_t index = 0; index < 3; ++index) {
                RECT field{};
                GetClientRect(pickers[index], &field);
                const long closed = ClientPixel(pickers[index], field.right - 30, field.bottom / 2);
                COMBOBOXINFO parts{};
                parts.cbSize = sizeof parts;
                long dropped = -1;
                if (GetComboBoxInfo(pickers[index], &parts) && parts.hwndList) {
                    SendMessageW(pickers[index], CB_SHOWDROPDOWN, TRUE, 0);
                    RECT list{};
                    GetClientRect(parts.hwndList, &list);
                    const auto row = static_cast<int>(SendMessageW(parts.hwndList, LB_GETITEMHEIGHT, 0, 0));
                    dropped = ClientPixel(parts.hwndList, list.right - 4, row + row / 2);
                    SendMessageW(pickers[index], CB_SHOWDROPDOWN, FALSE, 0);
                }
                Expect(closed == backs[index] && dropped == backs[index],
                       L"picker " + std::to_wstring(index + 1) + L" is on " + Hex(backs[index]) + L" (closed " +
                           Hex(closed) + L", dropped " + Hex(dropped) + L")");
            }
            // Captions in the design's bold face, but the help button's.
            const auto font_of = [](HWND control) {
                LOGFONTW font{};
                GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
                return font;
            };
            bool bold = true;
            for (HWND control : {pickers[0], pickers[1], pickers[2], ButtonNamed(dialog, L"Select Features"),
                                 ButtonNamed(dialog, L"Clear Selection")}) {
                const auto font = font_of(control);
                bold = bold && font.lfWeight == FW_BOLD;
            }
            Expect(bold && font_of(ButtonNamed(dialog, L"?")).lfWeight == FW_NORMAL,
                   L"the pickers and buttons are in bold, the help button in regular");
            // And drawn bold: the same words come out clearly heavier than in the regular face
            // of the same font, dark on light as the buttons and pickers show them. (A small
            // bold that falls back to a smoothed TrueType face can even come out lighter.)
            std::vector<std::pair<HWND, std::wstring>> captioned;
            for (HWND button : {ButtonNamed(dialog, L"Select Features"), ButtonNamed(dialog, L"Clear Selection")}) {
                captioned.emplace_back(button, TextOf(button));
            }
            for (HWND frame : Children(dialog, L"Button")) {
                if ((GetWindowLongW(frame, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
                    captioned.emplace_back(frame, TextOf(frame));
                }
            }
            for (HWND label : Children(dialog, L"Static")) {
                if (TextOf(label) == Count(dialog)) captioned.emplace_back(label, L"0123456789");
            }
            std::wstring lighter;
            for (const auto& [control, caption] : captioned) {
                auto regular = font_of(control);
                regular.lfWeight = FW_NORMAL;
                HFONT regular_font = CreateFontIndirectW(&regular);
                const auto ink = InkOf(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), caption);
                const auto regular_ink = InkOf(regular_font, caption);
                DeleteObject(regular_font);
                if (ink * 10 < regular_ink * 13) {
                    lighter += L" \"" + caption + L"\" (" + std::to_wstring(ink) + L" against " +
                               std::to_wstring(regular_ink) + L")";
                }
            }
            Expect(captioned.size() == 5 && lighter.empty(),
                   L"the buttons', frames' and count's captions are drawn heavier than the regular face" + lighter);
            const auto face = FaceOf(reinterpret_cast<HFONT>(SendMessageW(captioned[0].first, WM_GETFONT, 0, 0)));
            Expect(face == L"MS Sans Serif", L"the captions are in MS Sans Serif (" + face + L")");
            // The keyboard: once shown, Layer #1's picker has the focus, and Tab walks the
            // design's order (Layer #1, relationship, Layer #2, Clear Selection, Select
            // Features, ?) and round, in a host whose message loop knows nothing of dialogs.
            Pump();
            const std::vector<HWND> order{pickers[2], pickers[1], pickers[0], ButtonNamed(dialog, L"Clear Selection"),
                                          ButtonNamed(dialog, L"Select Features"), ButtonNamed(dialog, L"?"),
                                          pickers[2]};
            Expect(GetFocus() == order[0], L"Layer #1's picker has the focus when the dialog opens");
            std::size_t reached = 0;
            while (reached + 1 < order.size() && GetFocus() == order[reached]) {
                PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
                Pump();
                ++reached;
            }
            Expect(reached + 1 == order.size() && GetFocus() == order.back(),
                   L"Tab walks the pickers from Layer #1 up, the buttons, and round (" + std::to_wstring(reached) +
                       L" steps in order)");
            const auto layers = Entries(pickers[0]);
            const auto has = [&layers](const wchar_t* name) {
                return std::find(layers.begin(), layers.end(), name) != layers.end();
            };
            Expect(has(L"Parcels") && has(L"Wells") && has(L"Roads"),
                   L"Layer #2 lists the feature layers, those in the group too");
            Expect(Entries(pickers[1]).size() == 7, L"seven relationships are offered");

            Expect(Pick(pickers[0], L"Parcels") && Pick(pickers[1], L"INTERSECT") && Pick(pickers[2], L"Wells") &&
                       Press(dialog, L"Select Features"),
                   L"Parcels INTERSECT Wells is picked and run");
            const auto selected = test_host::Selected(L"Parcels");
            Expect(selected == std::set<LONGLONG>{1, 3, 4}, L"the parcels with wells are selected");
            Expect(Count(dialog) == L"3", L"the count label says 3 (" + Count(dialog) + L")");
            const auto& progress = seen.progress;
            Expect(std::find(progress.begin(), progress.end(), L"Show") != progress.end() &&
                       std::find(progress.begin(), progress.end(), L"Hide") != progress.end() &&
                       std::find(progress.begin(), progress.end(), L"MaxRange=4") != progress.end(),
                   L"the status bar's progress bar ran from 1 to the number of wells and was hidden");
            Expect(seen.refreshes >= 1, L"the map was redrawn");
            Expect(TakeBoxes().empty(), L"the run shows no message box");
            if (!g_picture_path.empty()) {
                Expect(SaveWindowPicture(seen.frames.front(), g_picture_path), L"the dialog's picture is saved");
                Expect(SaveDroppedPicture(seen.frames.front(), pickers[1], Beside(g_picture_path, L"_dropped")),
                       L"the picture of the dialog with the relationships dropped open is saved");
            }

            Press(dialog, L"Clear Selection");
            Pick(pickers[1], L"ENVELOPE INTERSECT");
            Press(dialog, L"Select Features");
            Expect(test_host::Selected(L"Parcels") == std::set<LONGLONG>{1, 3, 4} && TakeBoxes().empty(),
                   L"ENVELOPE INTERSECT selects the same parcels");

            Press(dialog, L"Clear Selection");
            Expect(Pick(pickers[2], L"\\u202esllew\\x1b[2J") && Pick(pickers[1], L"INTERSECT") &&
                       Press(dialog, L"Select Features") &&
                       test_host::Selected(L"Parcels") == std::set<LONGLONG>{1, 3, 4} && TakeBoxes().empty(),
                   L"a name with controls in it is listed escaped and picks its layer");

            // A host call that fails in the run: the standard report with the host's number and words.
            test_host::FailProgressShow(true);
            Press(dialog, L"Select Features");
            test_host::FailProgressShow(false);
            auto report = TakeBoxes();
            Expect(report.size() == 1 && report.front().find(L"ERROR NUMBER: -2147467259") != std::wstring::npos &&
                       report.front().find(L"ERROR DESCRIPTION: The test host's progress bar cannot be shown") !=
                           std::wstring::npos,
                   L"a failing host call ends the run through the report, with the host's number and words");

            Pick(pickers[1], L"TOUCH");
            Press(dialog, L"Select Features");
            const auto owners = BoxOwners();
            const auto boxes = TakeBoxes();
            Expect(owners.size() == 1 && owners.front() == test_host::MainWindow(),
                   L"a message box is owned by the host's main window, as its application-modal box");
            Expect(boxes.size() == 1 && boxes.front().rfind(L"Selvane|Error relating the two layers", 0) == 0,
                   L"a search the host fails gives the relate error (" + (boxes.empty() ? L"none" : boxes.front()) + L")");

            Press(dialog, L"Clear Selection");
            Expect(test_host::Selected(L"Parcels").empty() && Count(dialog) == L"0",
                   L"Clear Selection clears the map's selection and the count");
        }
        // Centred on the screen.
        RECT frame{};
        GetWindowRect(seen.frames.front(), &frame);
        const int dx = (frame.left + frame.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
        const int dy = (frame.top + frame.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
        Expect(std::abs(dx) <= 20 && std::abs(dy) <= 20,
               L"the dialog's frame is centred on the screen (off by " + std::to_wstring(dx) + L", " + std::to_wstring(dy) + L")");

        Expect(SUCCEEDED(command->OnClick()) && seen.dialogs.size() == 2, L"a second press opens a second dialog");
        const auto frames = seen.frames.size();
        HWND second = seen.dialogs.back();  // help windows come after it
        for (int press = 0; press < 3; ++press) Press(second, L"?");
        Expect(seen.frames.size() == frames + 3, L"three presses of \"?\" open three help windows (" +
                                                     std::to_wstring(seen.frames.size() - frames) + L")");
        Expect(TakeBoxes().empty(), L"help opens without a message box");
        if (!g_picture_path.empty()) {
            Expect(SaveWindowPicture(seen.frames.back(), Beside(g_picture_path, L"_help")),
                   L"the help window's picture is saved");
        }
        // The help picture is drawn as it is, from the top left: the client area's pixels
        // are the picture's at the same places, not those of the picture shrunk to fit.
        for (const auto& [x, y] : {std::pair{345, 250}, std::pair{300, 463}, std::pair{100, 200}}) {
            const long painted = PaintedPixel(seen.dialogs.back(), x, y);
            const long stored = HelpPicturePixel(static_cast<UINT>(x), static_cast<UINT>(y));
            Expect(stored >= 0 && painted == stored, L"the help window shows the picture's pixel at " +
                                                          std::to_wstring(x) + L", " + std::to_wstring(y) + L" (" +
                                                          std::to_wstring(painted) + L" for " + std::to_wstring(stored) + L")");
        }
        int transparent_links = 0;
        for (HWND label : Children(seen.dialogs.back(), L"Static")) {
            const auto text = TextOf(label);
            if (text == L"Check for Updates" || text == L"Product Forum") transparent_links += PaintsOnlyItsText(label);
        }
        Expect(transparent_links == 2, L"the links over the help picture paint only their text (" +
                                           std::to_wstring(transparent_links) + L" of 2)");
        // A link opens on its release over it, as a Win32 user expects and as Qt has it: not
        // on the press, and not when the pointer comes up elsewhere.
        HWND updates = nullptr;
        for (HWND label : Children(seen.dialogs.back(), L"Static")) {
            if (TextOf(label) == L"Check for Updates") updates = label;
        }
        const bool intercepted = InterceptShellOpen();
        Expect(intercepted, L"the test host sees what the server hands the shell");
        if (updates && intercepted) {
            const LPARAM inside = MAKELPARAM(3, 3);
            const LPARAM outside = MAKELPARAM(static_cast<WORD>(-20), static_cast<WORD>(-20));
            SendMessageW(updates, WM_LBUTTONDOWN, MK_LBUTTON, inside);
            Pump();
            const auto on_press = TakeShellTargets();
            SendMessageW(updates, WM_LBUTTONUP, 0, inside);
            Pump();
            const auto on_release = TakeShellTargets();
            SendMessageW(updates, WM_LBUTTONDOWN, MK_LBUTTON, inside);
            SendMessageW(updates, WM_LBUTTONUP, 0, outside);
            Pump();
            const auto released_elsewhere = TakeShellTargets();
            Expect(on_press.empty(), L"a link does nothing on the press (" + std::to_wstring(on_press.size()) + L" opened)");
            Expect(on_release == std::vector<std::string>{"http://www.tollamar.example/Products/ArcGIS/Selvane/index.htm"},
                   L"a link opens its page on the release over it (" + std::to_wstring(on_release.size()) + L" opened)");
            Expect(released_elsewhere.empty(), L"a press released off the link opens nothing (" +
                                                   std::to_wstring(released_elsewhere.size()) + L" opened)");
        } else {
            Expect(false, L"the help window has its \"Check for Updates\" link");
        }
        Expect(GroupBoxes(seen.dialogs.back()) == 0,
               L"the help window's frame without a border is no group box (" +
                   std::to_wstring(GroupBoxes(seen.dialogs.back())) + L")");
        // A quick double press of "?" is two presses: the button's double click counts.
        HWND help_button = nullptr;
        for (HWND button : Children(second, L"Button")) {
            if (TextOf(button) == L"?") help_button = button;
        }
        const auto before_double = seen.frames.size();
        if (help_button) {
            const LPARAM at = MAKELPARAM(3, 3);
            SendMessageW(help_button, WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageW(help_button, WM_LBUTTONUP, 0, at);
            SendMessageW(help_button, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            SendMessageW(help_button, WM_LBUTTONUP, 0, at);
        }
        Expect(help_button && seen.frames.size() == before_double + 2,
               L"a double press of \"?\" opens two help windows (" + std::to_wstring(seen.frames.size() - before_double) +
                   L")");
        Expect(TakeBoxes().empty(), L"the double press shows no message box");

        // A host that destroys a help frame frees its dialog: fifty opened and destroyed
        // leave nothing behind (each dialog holds its picture, 733 x 533, 1.5 MB, so fifty
        // kept would show), and the dialog that opened them still works.
        for (std::size_t index = before_double; index < seen.frames.size(); ++index) DestroyWindow(seen.frames[index]);
        Pump();
        const int forms_steady = FormWindows();
        const auto memory_before = PrivateMemory();
        for (int cycle = 0; cycle < 50; ++cycle) {
            Press(second, L"?");
            if (!seen.frames.empty()) DestroyWindow(seen.frames.back());
            Pump();
        }
        const auto grown = (PrivateMemory() - memory_before) / (1024 * 1024);
        Expect(FormWindows() == forms_steady && grown < 20,
               L"fifty help windows opened and destroyed leave nothing behind (" + std::to_wstring(FormWindows()) +
                   L" forms for " + std::to_wstring(forms_steady) + L", " + std::to_wstring(grown) + L" MB more)");
        const auto frames_now = seen.frames.size();
        Press(second, L"?");
        Expect(seen.frames.size() == frames_now + 1 && TakeBoxes().empty(), L"\"?\" still opens help after that");

        const auto dialogs = seen.dialogs.size();
        test_host::UseOtherDocument(true);
        command->OnClick();
        test_host::UseOtherDocument(false);
        const auto boxes = TakeBoxes();
        std::wstring said;
        for (const auto& box : boxes) said += box + L";";
        Expect(boxes == std::vector<std::wstring>{L"Selvane|Error: ICommand_OnClick()"} && seen.dialogs.size() == dialogs,
               L"a document that is not a map document gives \"Error: ICommand_OnClick()\" and no dialog (" + said +
                   std::to_wstring(seen.dialogs.size()) + L")");
    }
    ICommand* other = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_Selvane, nullptr, CLSCTX_INPROC_SERVER, IID_ICommand,
                                   reinterpret_cast<void**>(&other)))) {
        const HRESULT created = other->OnCreate(test_host::PlainHook());
        Expect(SUCCEEDED(created) && TakeBoxes() == std::vector<std::wstring>{L"Selvane|Error: ICommand_OnCreate()"},
               L"a hook that is not an application gives \"Error: ICommand_OnCreate()\" and still success");
        other->Release();
    }
    StopWatchingMessageBoxes();
    test_host::RevokeHostClasses();
}

}  // namespace test_host
