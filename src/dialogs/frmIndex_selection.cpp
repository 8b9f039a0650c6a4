// The selection run behind "Select Features" and "Clear Selection".

#include <new>
#include <string>

#include "dialogs/frmIndex.h"
#include "dialogs/relationships.h"
#include "state/shared_state.h"
#include "support/ErrorHandling.h"
#include "support/Tollamar_ArcMap.h"

namespace selvane::dialogs {
namespace {

constexpr const char* kLayer2Class = "feature class for Layer #2";

constexpr const char* kRelateError =
    "Error relating the two layers...\r\n"
    "Be sure the shape type of the layers is appropriate for the selected relationship.";

// Ends the busy state of a run on every path: hides the progress bar once it has been
// obtained and gives the default pointer back.
class BusyStateGuard {
public:
    BusyStateGuard() = default;
    BusyStateGuard(const BusyStateGuard&) = delete;
    BusyStateGuard& operator=(const BusyStateGuard&) = delete;
    ~BusyStateGuard() { Release(); }

    void Track(std::shared_ptr<platform::IStepProgressor> progress) { m_progress = std::move(progress); }

    void Release() noexcept {
        if (!m_active) return;
        m_active = false;
        try {
            if (m_progress) m_progress->Hide();
        } catch (...) {
        }
        try {
            platform::Runtime().Screen().SetMousePointer(platform::kPointerDefault);
        } catch (...) {
        }
    }

private:
    std::shared_ptr<platform::IStepProgressor> m_progress;
    bool m_active = true;
};

}  // namespace

void frmIndex::btnNext_Click() noexcept {
    std::int32_t line = 0;
    BusyStateGuard busy;
    try {
        line = 1;
        state::FocusMap()->ClearSelection();
        state::ActiveView()->Refresh();
        ShowSelectionCount();

        line = 2;
        const std::string relationship_text = m_form->ComboBox("cboRelationship").Text();
        if (platform::TrimBlanks(relationship_text).empty()) {
            busy.Release();
            state::ShowMessage("Please choose a relationship");
            return;
        }
        line = 3;
        const auto relation = RelationCode(relationship_text);

        line = 4;
        const std::string layer1_name = m_form->ComboBox("cboMapLayers").Text();
        const std::string layer2_name = m_form->ComboBox("cboSearchLayers").Text();
        auto layer1 = support::GetFeatureLayerByName(layer1_name);
        auto layer2 = support::GetFeatureLayerByName(layer2_name);
        line = 5;
        if (!layer1 || !layer2) {
            busy.Release();
            state::ShowMessage("Can't find layer: " + (layer1 ? layer2_name : layer1_name));
            return;
        }

        line = 6;
        platform::Runtime().Screen().SetMousePointer(platform::kPointerHourglass);

        line = 7;
        auto status_bar = state::Required(state::Application().StatusBar(), "status bar");
        auto progress = state::Required(status_bar->ProgressBar(), "progress bar");
        busy.Track(progress);
        auto layer1_class = state::Required(layer1->FeatureClass(), "feature class for Layer #1");
        progress->SetMinRange(1);
        progress->SetMaxRange(layer1_class->FeatureCount(nullptr));
        progress->SetStepValue(1);
        progress->SetPosition(1);
        progress->SetMessage("Building selection...");
        progress->Step();
        progress->Show();

        line = 8;
        auto layer1_cursor = layer1->Search(nullptr, true);
        auto layer1_feature = state::Required(layer1_cursor, "cursor over Layer #1")->NextFeature();

        line = 9;
        auto selection = std::dynamic_pointer_cast<platform::IFeatureSelection>(layer2);
        if (!selection) throw platform::Error(platform::kNoInterface, "Layer #2 keeps no selection");

        while (layer1_feature) {
            line = 10;
            progress->Step();

            line = 11;
            auto filter = state::Required(platform::SpatialFilter(), "spatial filter");
            filter->SetGeometry(layer1_feature->Shape());
            filter->SetSpatialRel(relation);
            filter->SetGeometryField(state::Required(layer2->FeatureClass(), kLayer2Class)->ShapeFieldName());

            line = 12;
            std::shared_ptr<platform::IFeatureCursor> layer2_cursor;
            try {
                layer2_cursor = state::Required(layer2->FeatureClass(), kLayer2Class)->Search(filter, false);
            } catch (const std::bad_alloc&) {
                throw;  // no fault of the layers' shapes: the standard report says what it is
            } catch (...) {
                busy.Release();
                ShowPartialSelection();
                state::ShowMessage(kRelateError);
                return;
            }

            line = 13;
            state::Required(layer2_cursor, "cursor over Layer #2");
            while (auto layer2_feature = layer2_cursor->NextFeature()) selection->Add(layer2_feature);

            line = 14;
            layer1_feature = layer1_cursor->NextFeature();
        }

        line = 15;
        state::ActiveView()->Refresh();
        ShowSelectionCount();

        line = 16;
        busy.Release();
    } catch (...) {
        const auto error = support::CurrentError();
        busy.Release();
        ShowPartialSelection();
        support::ReportUnexpectedError(support::Location("btnNext_Click", kUnit, line), error.number,
                                       error.description);
    }
}

void frmIndex::Command1_Click() noexcept {
    std::int32_t line = 0;
    try {
        line = 1;
        state::FocusMap()->ClearSelection();
        line = 2;
        state::ActiveView()->Refresh();
        line = 3;
        ShowSelectionCount();
    } catch (...) {
        const auto error = support::CurrentError();
        ShowPartialSelection();
        support::ReportUnexpectedError(support::Location("Command1_Click", kUnit, line), error.number,
                                       error.description);
    }
}

}  // namespace selvane::dialogs
