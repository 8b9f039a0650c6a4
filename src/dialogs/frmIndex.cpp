#include "dialogs/frmIndex.h"

#include <string>

#include "dialogs/frmHelp.h"
#include "dialogs/frmIndex_design.h"
#include "dialogs/relationships.h"
#include "state/shared_state.h"
#include "support/ErrorHandling.h"
#include "support/Tollamar_ArcMap.h"

namespace selvane::dialogs {

std::shared_ptr<frmIndex> frmIndex::Create() {
    return Make(frmIndexDesign(), {{"btnNext", &frmIndex::btnNext_Click},
                                   {"Command1", &frmIndex::Command1_Click},
                                   {"cboMapLayers", &frmIndex::cboMapLayers_Click},
                                   {"cboSearchLayers", &frmIndex::cboSearchLayers_Click},
                                   {"btnHelp2", &frmIndex::btnHelp2_Click}});
}

std::shared_ptr<platform::IModelessFrame> frmIndex::Frame() noexcept {
    return HostedIn(state::ProductName, HostingFailures::Ignored);
}

PixelPoint CentredPosition(const platform::IScreen& screen, int form_width, int form_height) {
    const double twips_x = screen.TwipsPerPixelX();
    const double twips_y = screen.TwipsPerPixelY();
    const double left = screen.Width() / twips_x / 2.0 - form_width / twips_x / 2.0;
    const double top = screen.Height() / twips_y / 2.0 - form_height / twips_y / 2.0;
    return {platform::RoundHalfEven(left), platform::RoundHalfEven(top)};
}

void frmIndex::ShowSelectionCount() {
    const auto count = state::FocusMap()->SelectionCount();
    m_form->Label("lblCount").SetCaption(platform::DecimalText(count));
}

void frmIndex::Form_Load() noexcept {
    std::int32_t line = 0;
    try {
        line = 1;
        if (!state::MainDialog) throw platform::Error(platform::kPointer, "No main dialog");
        auto frame = state::MainDialog->Frame();
        auto position = std::dynamic_pointer_cast<platform::IWindowPosition>(frame);
        if (!position) throw platform::Error(platform::kNoInterface, "The dialog's frame cannot be positioned");

        line = 2;
        auto& screen = platform::Runtime().Screen();
        const auto centre = CentredPosition(screen, m_form->Width(), m_form->Height());
        position->Move(centre.left, centre.top, 0, 0);

        line = 3;
        screen.SetMousePointer(platform::kPointerHourglass);
        line = 4;
        m_form->Label("txtVersion").SetCaption(state::ProductVersion);
        line = 5;
        ShowSelectionCount();
        line = 6;
        support::LoadComboWithFeatureLayers(m_form->ComboBox("cboMapLayers"));
        line = 7;
        support::LoadComboWithFeatureLayers(m_form->ComboBox("cboSearchLayers"));
        line = 8;
        auto& relationship = m_form->ComboBox("cboRelationship");
        relationship.Clear();
        for (const auto& entry : kRelationships) relationship.AddItem(std::string(entry.text));
        line = 9;
        relationship.SetText(std::string(kRelationships.front().text));
        line = 10;
        screen.SetMousePointer(platform::kPointerDefault);
    } catch (...) {
        // The hourglass would otherwise stay on every window of the process.
        try {
            platform::Runtime().Screen().SetMousePointer(platform::kPointerDefault);
        } catch (...) {
        }
        support::ReportCurrentError("Form_Load", kUnit, line);
    }
}

void frmIndex::btnHelp2_Click() noexcept {
    std::int32_t line = 0;
    try {
        // The help dialog lives on through its frame; nothing here keeps it.
        line = 1;
        auto help = frmHelp::Create();
        line = 2;
        auto frame = help->Frame();
        if (!frame) return;  // Frame has reported why
        line = 3;
        frame->SetVisible(true);
    } catch (...) {
        support::ReportCurrentError("btnHelp2_Click", kUnit, line);
    }
}

void frmIndex::ShowPartialSelection() noexcept {
    try {
        state::ActiveView()->Refresh();
    } catch (...) {
    }
    // In a guard of its own: a redraw that fails must not leave a stale count.
    try {
        ShowSelectionCount();
    } catch (...) {
    }
}

}  // namespace selvane::dialogs
