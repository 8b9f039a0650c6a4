#include "application_adapters.h"

#include "host_call.h"
#include "layer_adapters.h"

namespace selvane::com {
namespace {

class ActiveView final : public platform::IActiveView {
public:
    explicit ActiveView(ComRef<::IActiveView> view) : m_view(std::move(view)) {}
    void Refresh() override { Check(m_view->Refresh(), "IActiveView.Refresh"); }

private:
    ComRef<::IActiveView> m_view;
};

class MxDocument final : public platform::IMxDocument {
public:
    explicit MxDocument(ComRef<::IMxDocument> document) : m_document(std::move(document)) {}
    std::shared_ptr<platform::IMap> FocusMap() override {
        auto map = ReadObject<::IMap>([this](::IMap** out) { return m_document->get_FocusMap(out); },
                                      "IMxDocument.FocusMap");
        return AdaptMap(std::move(map));
    }
    std::shared_ptr<platform::IActiveView> ActiveView() override {
        auto view = ReadObject<::IActiveView>([this](::IActiveView** out) { return m_document->get_ActiveView(out); },
                                              "IMxDocument.ActiveView");
        return view ? std::make_shared<com::ActiveView>(std::move(view)) : nullptr;
    }

private:
    ComRef<::IMxDocument> m_document;
};

class StepProgressor final : public platform::IStepProgressor {
public:
    explicit StepProgressor(ComRef<::IStepProgressor> progress) : m_progress(std::move(progress)) {}
    void SetMessage(const std::string& message) override {
        Check(m_progress->put_Message(UniqueBstr(message).Get()), "IProgressor.Message");
    }
    void Show() override { Check(m_progress->Show(), "IProgressor.Show"); }
    void Step() override { Check(m_progress->Step(), "IProgressor.Step"); }
    void Hide() override { Check(m_progress->Hide(), "IProgressor.Hide"); }
    void SetMinRange(std::int32_t value) override { Check(m_progress->put_MinRange(value), "IStepProgressor.MinRange"); }
    void SetMaxRange(std::int32_t value) override { Check(m_progress->put_MaxRange(value), "IStepProgressor.MaxRange"); }
    void SetStepValue(std::int32_t value) override {
        Check(m_progress->put_StepValue(value), "IStepProgressor.StepValue");
    }
    void SetPosition(std::int32_t value) override { Check(m_progress->put_Position(value), "IStepProgressor.Position"); }
    std::int32_t MinRange() override { return Read(&::IStepProgressor::get_MinRange, "IStepProgressor.MinRange"); }
    std::int32_t MaxRange() override { return Read(&::IStepProgressor::get_MaxRange, "IStepProgressor.MaxRange"); }
    std::int32_t StepValue() override { return Read(&::IStepProgressor::get_StepValue, "IStepProgressor.StepValue"); }
    std::int32_t Position() override { return Read(&::IStepProgressor::get_Position, "IStepProgressor.Position"); }

private:
    std::int32_t Read(HRESULT (STDMETHODCALLTYPE ::IStepProgressor::*get)(LONG*), const char* call) {
        LONG value = 0;
        Check((m_progress.Get()->*get)(&value), call);
        return value;
    }
    ComRef<::IStepProgressor> m_progress;
};

class StatusBar final : public platform::IStatusBar {
public:
    explicit StatusBar(ComRef<::IStatusBar> bar) : m_bar(std::move(bar)) {}
    std::shared_ptr<platform::IStepProgressor> ProgressBar() override {
        // One port object for the bar, as the host gives one bar.
        if (!m_progress) {
            ComRef<::IStepProgressor> progress;
            Check(m_bar->get_ProgressBar(progress.Out()), "IStatusBar.ProgressBar");
            if (progress) m_progress = std::make_shared<StepProgressor>(std::move(progress));
        }
        return m_progress;
    }

private:
    ComRef<::IStatusBar> m_bar;
    std::shared_ptr<StepProgressor> m_progress;
};

class Application final : public platform::IApplication, public HostObject {
public:
    explicit Application(ComRef<::IApplication> application) : m_application(std::move(application)) {}
    std::shared_ptr<platform::IObject> Document() override {
        auto document = ReadObject<::IUnknown>([this](::IUnknown** out) { return m_application->get_Document(out); },
                                               "IApplication.Document");
        if (!document) return nullptr;
        if (auto map_document = document.As<::IMxDocument>(IID_IMxDocument)) {
            return std::make_shared<MxDocument>(std::move(map_document));
        }
        return std::make_shared<PlainObject>(std::move(document));
    }
    std::shared_ptr<platform::IStatusBar> StatusBar() override {
        auto bar = ReadObject<::IStatusBar>([this](::IStatusBar** out) { return m_application->get_StatusBar(out); },
                                            "IApplication.StatusBar");
        return bar ? std::make_shared<com::StatusBar>(std::move(bar)) : nullptr;
    }
    IUnknown* Unknown() const override { return m_application.Get(); }

private:
    ComRef<::IApplication> m_application;
};

}  // namespace

std::shared_ptr<platform::IApplication> AdaptApplication(ComRef<::IApplication> application) {
    return application ? std::make_shared<Application>(std::move(application)) : nullptr;
}

}  // namespace selvane::com
