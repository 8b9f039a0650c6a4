#include "host_adapter.h"

#include <string>

#include "com_ref.h"
#include "host_error.h"
#include "host_objects.h"
#include "text.h"
#include "win32/win32_form.h"
#include "win32/win32_runtime.h"

namespace selvane::com {
namespace {

// Throws the host's error for a failed call, with the description its error info gives.
void Check(HRESULT result, const char* call) {
    if (SUCCEEDED(result)) return;
    std::string description;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        UniqueBstr text;
        if (SUCCEEDED(info->GetDescription(text.Out()))) description = text.Text();
        info->Release();
    }
    throw HostError(static_cast<std::int32_t>(result), description, call);
}

// A text property of the host: `get` fills the BSTR it is given.
template <typename Get>
std::string ReadText(Get&& get, const char* call) {
    UniqueBstr text;
    Check(get(text.Out()), call);
    return text.Text();
}

// The host object behind a port object, for the ports that hand objects back to the host.
class HostObject : public virtual platform::IObject {
public:
    virtual IUnknown* Unknown() const = 0;
};

class Geometry final : public platform::IGeometry, public HostObject {
public:
    explicit Geometry(ComRef<::IGeometry> geometry) : m_geometry(std::move(geometry)) {}
    bool IsEmpty() const override {
        VARIANT_BOOL empty = VARIANT_FALSE;
        Check(m_geometry->get_IsEmpty(&empty), "IGeometry.IsEmpty");
        return empty != VARIANT_FALSE;
    }
    IUnknown* Unknown() const override { return m_geometry.Get(); }
    ::IGeometry* Get() const { return m_geometry.Get(); }

private:
    ComRef<::IGeometry> m_geometry;
};

class Feature final : public platform::IFeature, public HostObject {
public:
    explicit Feature(ComRef<::IFeature> feature) : m_feature(std::move(feature)) {}
    std::int64_t OID() override {
        LONGLONG oid = 0;
        Check(m_feature->get_OID(&oid), "IFeature.OID");
        return oid;
    }
    std::shared_ptr<platform::IGeometry> Shape() override {
        ComRef<::IGeometry> shape;
        Check(m_feature->get_Shape(shape.Out()), "IFeature.Shape");
        return shape ? std::make_shared<Geometry>(std::move(shape)) : nullptr;
    }
    IUnknown* Unknown() const override { return m_feature.Get(); }
    ::IFeature* Get() const { return m_feature.Get(); }

private:
    ComRef<::IFeature> m_feature;
};

class FeatureCursor final : public platform::IFeatureCursor {
public:
    explicit FeatureCursor(ComRef<::IFeatureCursor> cursor) : m_cursor(std::move(cursor)) {}
    std::shared_ptr<platform::IFeature> NextFeature() override {
        ComRef<::IFeature> feature;
        Check(m_cursor->NextFeature(feature.Out()), "IFeatureCursor.NextFeature");
        return feature ? std::make_shared<Feature>(std::move(feature)) : nullptr;
    }

private:
    ComRef<::IFeatureCursor> m_cursor;
};

class SpatialFilter final : public platform::ISpatialFilter, public HostObject {
public:
    explicit SpatialFilter(ComRef<::ISpatialFilter> filter) : m_filter(std::move(filter)) {}
    std::shared_ptr<platform::IGeometry> Geometry() override {
        ComRef<::IGeometry> geometry;
        Check(m_filter->get_Geometry(geometry.Out()), "ISpatialFilter.Geometry");
        return geometry ? std::make_shared<com::Geometry>(std::move(geometry)) : nullptr;
    }
    void SetGeometry(std::shared_ptr<platform::IGeometry> geometry) override {
        auto* host = dynamic_cast<com::Geometry*>(geometry.get());
        if (geometry && !host) throw platform::Error(platform::kInvalidArg, "The shape is not one of the host's");
        Check(m_filter->putref_Geometry(host ? host->Get() : nullptr), "ISpatialFilter.Geometry");
    }
    platform::esriSpatialRelEnum SpatialRel() override {
        LONG relation = 0;
        Check(m_filter->get_SpatialRel(&relation), "ISpatialFilter.SpatialRel");
        return static_cast<platform::esriSpatialRelEnum>(relation);
    }
    void SetSpatialRel(platform::esriSpatialRelEnum relation) override {
        Check(m_filter->put_SpatialRel(relation), "ISpatialFilter.SpatialRel");
    }
    std::string GeometryField() override {
        return ReadText([this](BSTR* text) { return m_filter->get_GeometryField(text); }, "ISpatialFilter.GeometryField");
    }
    void SetGeometryField(const std::string& field) override {
        Check(m_filter->put_GeometryField(UniqueBstr(field).Get()), "ISpatialFilter.GeometryField");
    }
    IUnknown* Unknown() const override { return m_filter.Get(); }

private:
    ComRef<::ISpatialFilter> m_filter;
};

// The host's filter behind a port filter; null for no filter.
ComRef<::IQueryFilter> HostFilter(const std::shared_ptr<platform::IQueryFilter>& filter) {
    if (!filter) return {};
    auto* host = dynamic_cast<HostObject*>(filter.get());
    if (!host) throw platform::Error(platform::kInvalidArg, "The query filter is not one of the host's");
    return ComRef<::IUnknown>::Share(host->Unknown()).As<::IQueryFilter>(IID_IQueryFilter);
}

class FeatureClass final : public platform::IFeatureClass {
public:
    explicit FeatureClass(ComRef<::IFeatureClass> feature_class) : m_class(std::move(feature_class)) {}
    std::string ShapeFieldName() override {
        return ReadText([this](BSTR* text) { return m_class->get_ShapeFieldName(text); }, "IFeatureClass.ShapeFieldName");
    }
    std::int32_t FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) override {
        LONG count = 0;
        Check(m_class->FeatureCount(HostFilter(filter).Get(), &count), "IFeatureClass.FeatureCount");
        return count;
    }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override {
        ComRef<::IFeatureCursor> cursor;
        Check(m_class->Search(HostFilter(filter).Get(), recycling ? VARIANT_TRUE : VARIANT_FALSE, cursor.Out()),
              "IFeatureClass.Search");
        return cursor ? std::make_shared<FeatureCursor>(std::move(cursor)) : nullptr;
    }

private:
    ComRef<::IFeatureClass> m_class;
};

class LayerPort : public platform::ILayer {
public:
    explicit LayerPort(ComRef<::ILayer> layer) : m_layer(std::move(layer)) {}
    std::string Name() override {
        return ReadText([this](BSTR* text) { return m_layer->get_Name(text); }, "ILayer.Name");
    }

protected:
    ComRef<::ILayer> m_layer;
};

std::shared_ptr<platform::ILayer> AdaptLayer(ComRef<::ILayer> layer);

class GroupLayer final : public LayerPort, public platform::IGroupLayer, public platform::ICompositeLayer {
public:
    GroupLayer(ComRef<::ILayer> layer, ComRef<::ICompositeLayer> members) : LayerPort(std::move(layer)), m_members(std::move(members)) {}
    std::int32_t Count() override {
        LONG count = 0;
        Check(m_members->get_Count(&count), "ICompositeLayer.Count");
        return count;
    }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override {
        ComRef<::ILayer> member;
        Check(m_members->get_Layer(index, member.Out()), "ICompositeLayer.Layer");
        return AdaptLayer(std::move(member));
    }

private:
    ComRef<::ICompositeLayer> m_members;
};

class FeatureLayer : public LayerPort, public platform::IFeatureLayer {
public:
    FeatureLayer(ComRef<::ILayer> layer, ComRef<::IFeatureLayer> features) : LayerPort(std::move(layer)), m_features(std::move(features)) {}
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override {
        ComRef<::IFeatureClass> feature_class;
        Check(m_features->get_FeatureClass(feature_class.Out()), "IFeatureLayer.FeatureClass");
        return feature_class ? std::make_shared<com::FeatureClass>(std::move(feature_class)) : nullptr;
    }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override {
        ComRef<::IFeatureCursor> cursor;
        Check(m_features->Search(HostFilter(filter).Get(), recycling ? VARIANT_TRUE : VARIANT_FALSE, cursor.Out()),
              "IFeatureLayer.Search");
        return cursor ? std::make_shared<FeatureCursor>(std::move(cursor)) : nullptr;
    }

private:
    ComRef<::IFeatureLayer> m_features;
};

class SelectableFeatureLayer final : public FeatureLayer, public platform::IFeatureSelection {
public:
    SelectableFeatureLayer(ComRef<::ILayer> layer, ComRef<::IFeatureLayer> features, ComRef<::IFeatureSelection> selection)
        : FeatureLayer(std::move(layer), std::move(features)), m_selection(std::move(selection)) {}
    void Add(const std::shared_ptr<platform::IFeature>& feature) override {
        auto* host = dynamic_cast<com::Feature*>(feature.get());
        if (!host) throw platform::Error(platform::kInvalidArg, "The feature is not one of the host's");
        Check(m_selection->Add(host->Get()), "IFeatureSelection.Add");
    }

private:
    ComRef<::IFeatureSelection> m_selection;
};

// A layer as what it supports: a group, a feature layer (with or without a selection) or
// just a layer.
std::shared_ptr<platform::ILayer> AdaptLayer(ComRef<::ILayer> layer) {
    if (!layer) return nullptr;
    auto group = layer.As<::IGroupLayer>(IID_IGroupLayer);
    auto members = layer.As<::ICompositeLayer>(IID_ICompositeLayer);
    if (group && members) return std::make_shared<GroupLayer>(std::move(layer), std::move(members));
    if (auto features = layer.As<::IFeatureLayer>(IID_IFeatureLayer)) {
        if (auto selection = layer.As<::IFeatureSelection>(IID_IFeatureSelection)) {
            return std::make_shared<SelectableFeatureLayer>(std::move(layer), std::move(features), std::move(selection));
        }
        return std::make_shared<FeatureLayer>(std::move(layer), std::move(features));
    }
    return std::make_shared<LayerPort>(std::move(layer));
}

class Map final : public platform::IMap {
public:
    explicit Map(ComRef<::IMap> map) : m_map(std::move(map)) {}
    std::int32_t LayerCount() override {
        LONG count = 0;
        Check(m_map->get_LayerCount(&count), "IMap.LayerCount");
        return count;
    }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override {
        ComRef<::ILayer> layer;
        Check(m_map->get_Layer(index, layer.Out()), "IMap.Layer");
        return AdaptLayer(std::move(layer));
    }
    std::int32_t SelectionCount() override {
        LONG count = 0;
        Check(m_map->get_SelectionCount(&count), "IMap.SelectionCount");
        return count;
    }
    void ClearSelection() override { Check(m_map->ClearSelection(), "IMap.ClearSelection"); }

private:
    ComRef<::IMap> m_map;
};

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
        ComRef<::IMap> map;
        Check(m_document->get_FocusMap(map.Out()), "IMxDocument.FocusMap");
        return map ? std::make_shared<Map>(std::move(map)) : nullptr;
    }
    std::shared_ptr<platform::IActiveView> ActiveView() override {
        ComRef<::IActiveView> view;
        Check(m_document->get_ActiveView(view.Out()), "IMxDocument.ActiveView");
        return view ? std::make_shared<com::ActiveView>(std::move(view)) : nullptr;
    }

private:
    ComRef<::IMxDocument> m_document;
};

// Any other host object: the system can only ask what it is.
class PlainObject final : public HostObject {
public:
    explicit PlainObject(ComRef<::IUnknown> object) : m_object(std::move(object)) {}
    IUnknown* Unknown() const override { return m_object.Get(); }

private:
    ComRef<::IUnknown> m_object;
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
        ComRef<::IUnknown> document;
        Check(m_application->get_Document(document.Out()), "IApplication.Document");
        if (!document) return nullptr;
        if (auto map_document = document.As<::IMxDocument>(IID_IMxDocument)) {
            return std::make_shared<MxDocument>(std::move(map_document));
        }
        return std::make_shared<PlainObject>(std::move(document));
    }
    std::shared_ptr<platform::IStatusBar> StatusBar() override {
        ComRef<::IStatusBar> bar;
        Check(m_application->get_StatusBar(bar.Out()), "IApplication.StatusBar");
        return bar ? std::make_shared<com::StatusBar>(std::move(bar)) : nullptr;
    }
    IUnknown* Unknown() const override { return m_application.Get(); }

private:
    ComRef<::IApplication> m_application;
};

class ModelessFrame : public platform::IModelessFrame {
public:
    explicit ModelessFrame(ComRef<::IModelessFrame> frame) : m_frame(std::move(frame)) {}
    void Create(std::shared_ptr<platform::IHostedForm> dialog) override {
        if (!dialog) throw platform::Error(platform::kPointer, "No dialog to host");
        *m_dialog = dialog;
        const auto form = dialog->Form();
        const auto window = form->hWnd();
        Check(m_frame->Create(static_cast<OLE_HANDLE>(window)), "IModelessFrame.Create");
        // Once the host destroys the window, the dialog goes (and this port with it).
        if (auto* win32_form = dynamic_cast<win32::Win32Form*>(form.get())) {
            win32_form->SetWindowGone([held = std::weak_ptr(m_dialog)] {
                if (const auto slot = held.lock()) {
                    const auto let_go = std::move(*slot);
                }
            });
        }
    }
    std::string Caption() override {
        return ReadText([this](BSTR* text) { return m_frame->get_Caption(text); }, "IModelessFrame.Caption");
    }
    void SetCaption(const std::string& caption) override {
        Check(m_frame->put_Caption(UniqueBstr(caption).Get()), "IModelessFrame.Caption");
    }
    bool Visible() override {
        VARIANT_BOOL visible = VARIANT_FALSE;
        Check(m_frame->get_Visible(&visible), "IModelessFrame.Visible");
        return visible != VARIANT_FALSE;
    }
    void SetVisible(bool visible) override {
        Check(m_frame->put_Visible(visible ? VARIANT_TRUE : VARIANT_FALSE), "IModelessFrame.Visible");
    }

protected:
    ComRef<::IModelessFrame> m_frame;
    // The host holds only the dialog's window; the port keeps the dialog alive with it,
    // until the window is destroyed.
    std::shared_ptr<std::shared_ptr<platform::IHostedForm>> m_dialog =
        std::make_shared<std::shared_ptr<platform::IHostedForm>>();
};

class PositionedModelessFrame final : public ModelessFrame, public platform::IWindowPosition {
public:
    PositionedModelessFrame(ComRef<::IModelessFrame> frame, ComRef<::IWindowPosition> position)
        : ModelessFrame(std::move(frame)), m_position(std::move(position)) {}
    void Move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
        Check(m_position->Move(left, top, width, height), "IWindowPosition.Move");
    }

private:
    ComRef<::IWindowPosition> m_position;
};

template <typename Interface>
ComRef<Interface> CreateHostObject(REFCLSID clsid, REFIID iid, const char* name) {
    ComRef<Interface> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(object.Out())), name);
    return object;
}

class ObjectFactory final : public platform::IObjectFactory {
public:
    std::shared_ptr<platform::IObject> CreateAppRef() override {
        auto object = CreateHostObject<IUnknown>(CLSID_AppRef, IID_IUnknown, "AppRef");
        if (auto application = object.As<::IApplication>(IID_IApplication)) {
            return std::make_shared<Application>(std::move(application));
        }
        return std::make_shared<PlainObject>(std::move(object));
    }
    std::shared_ptr<platform::ISpatialFilter> CreateSpatialFilter() override {
        return std::make_shared<SpatialFilter>(
            CreateHostObject<ISpatialFilter>(CLSID_SpatialFilter, IID_ISpatialFilter, "SpatialFilter"));
    }
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override {
        auto frame = CreateHostObject<IModelessFrame>(CLSID_ModelessFrame, IID_IModelessFrame, "ModelessFrame");
        if (auto position = frame.As<::IWindowPosition>(IID_IWindowPosition)) {
            return std::make_shared<PositionedModelessFrame>(std::move(frame), std::move(position));
        }
        return std::make_shared<ModelessFrame>(std::move(frame));
    }
};

}  // namespace

std::shared_ptr<platform::IObject> AdaptHook(IDispatch* hook) {
    auto object = ComRef<::IDispatch>::Share(hook);
    if (auto application = object.As<::IApplication>(IID_IApplication)) {
        // Message boxes belong to the host's main window.
        OLE_HANDLE window = 0;
        auto* runtime = dynamic_cast<win32::Win32Runtime*>(&platform::Runtime());
        if (runtime && SUCCEEDED(application->get_hWnd(&window))) {
            runtime->SetMessageOwner(reinterpret_cast<HWND>(static_cast<INT_PTR>(window)));
        }
        return std::make_shared<Application>(std::move(application));
    }
    return std::make_shared<PlainObject>(object.As<::IUnknown>(IID_IUnknown));
}

std::shared_ptr<platform::IObjectFactory> HostObjectFactory() { return std::make_shared<ObjectFactory>(); }

}  // namespace selvane::com
