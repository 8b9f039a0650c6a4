#pragma once

// The Spatial Selection dialog (form frmMain): "Select all features in layer" [Layer #2]
// "Whose features" [relationship] "Features in layer" [Layer #1].

#include <memory>

#include "dialogs/dialog.h"
#include "platform/arcobjects.h"
#include "platform/runtime.h"
#include "state/shared_state.h"

namespace selvane::dialogs {

class frmIndex : public Dialog<frmIndex, state::IMainDialog> {
public:
    /// The unit name that error reports give as the failing procedure's module.
    static constexpr const char* kUnit = "frmIndex";

    /// A new dialog whose form is not loaded yet.
    static std::shared_ptr<frmIndex> Create();

    /// The modeless frame hosting the dialog, created and bound on first read (which
    /// loads the dialog); the same frame afterwards. nullptr when it cannot be created.
    std::shared_ptr<platform::IModelessFrame> Frame() noexcept override;

    /// Load-time set-up: centre the frame, fill the pickers, show the version and count.
    void Form_Load() noexcept;
    /// "Select Features": select in Layer #2 what stands in the relationship to Layer #1.
    void btnNext_Click() noexcept;
    /// "Clear Selection": clear the map's selection and show the count.
    void Command1_Click() noexcept;
    /// "?": opens one more help window.
    void btnHelp2_Click() noexcept;
    /// Picking a layer runs nothing; the run reads the pickers' texts.
    void cboMapLayers_Click() noexcept {}
    void cboSearchLayers_Click() noexcept {}

private:
    friend class Dialog<frmIndex, state::IMainDialog>;
    frmIndex() = default;

    /// Sets lblCount to the focus map's selection count.
    void ShowSelectionCount();
    /// After a failed run: redraw and show the true count, so the label never disagrees
    /// with the selection the run left behind. Failures here are ignored.
    void ShowPartialSelection() noexcept;
};

/// The frame's top-left corner that centres a form of the given outer size (twips) on the
/// screen, in whole pixels with halves to even.
struct PixelPoint {
    std::int32_t left = 0;
    std::int32_t top = 0;
};
PixelPoint CentredPosition(const platform::IScreen& screen, int form_width, int form_height);

}  // namespace selvane::dialogs
