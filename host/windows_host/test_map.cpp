#include "test_map.h"

#include <atomic>
#include <map>
#include <memory>

#include "com/com_object.h"

namespace test_host {
namespace {

using selvane::com::ComObject;

template <typename Interface>
HRESULT Hand(Interface* object, Interface** out) {
    if (!out) return E_POINTER;
    if (object) object->AddRef();
    *out = object;
    return S_OK;
}

HRESULT Fail(const std::wstring& description) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return E_FAIL;
}

Record g_record;
HWND g_main_window = nullptr;
bool g_other_document = false;
bool g_fail_progress_show = false;

class Geometry final : public ComObject<IGeometry> {
public:
    explicit Geometry(Shape shape) : m_shape(shape) {}
    HRESULT STDMETHODCALLTYPE get_IsEmpty(VARIANT_BOOL* empty) override {
        *empty = VARIANT_FALSE;
        return S_OK;
    }
    const Shape& Get() const { return m_shape; }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IGeometry ? static_cast<IGeometry*>(this) : nullptr;
    }

private:
    Shape m_shape;
};

class Feature final : public ComObject<IFeature> {
public:
    Feature(LONGLONG oid, Geometry* shape) : m_oid(oid), m_shape(shape) { m_shape->AddRef(); }
    ~Feature() override { m_shape->Release(); }
    HRESULT STDMETHODCALLTYPE get_OID(LONGLONG* oid) override {
        *oid = m_oid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Shape(IGeometry** shape) override { return Hand<IGeometry>(m_shape, shape); }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IFeature ? static_cast<IFeature*>(this) : nullptr;
    }

private:
    LONGLONG m_oid;
    Geometry* m_shape;
};

class Cursor final : public ComObject<IFeatureCursor> {
public:
    explicit Cursor(std::vector<Feature*> features) : m_features(std::move(features)) {}
    ~Cursor() override {
        for (auto* feature : m_features) feature->Release();
    }
    HRESULT STDMETHODCALLTYPE NextFeature(IFeature** feature) override {
        return Hand<IFeature>(m_next < m_features.size() ? m_features[m_next++] : nullptr, feature);
    }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IFeatureCursor ? static_cast<IFeatureCursor*>(this) : nullptr;
    }

private:
    std::vector<Feature*> m_features;
    std::size_t m_next = 0;
};

bool Overlap(const Shape& a, const Shape& b) { return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2; }

class FeatureClass final : public ComObject<IFeatureClass> {
public:
    explicit FeatureClass(const std::vector<Shape>& shapes) {
        for (std::size_t index = 0; index < shapes.size(); ++index) {
            auto* shape = new Geometry(shapes[index]);
            m_features.push_back(new Feature(static_cast<LONGLONG>(index + 1), shape));
            shape->Release();
        }
    }
    HRESULT STDMETHODCALLTYPE get_ShapeFieldName(BSTR* name) override {
        *name = SysAllocString(L"Shape");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FeatureCount(IQueryFilter* filter, LONG* count) override {
        std::vector<Feature*> found;
        const HRESULT result = Select(filter, found);
        *count = static_cast<LONG>(found.size());
        for (auto* feature : found) feature->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE Search(IQueryFilter* filter, VARIANT_BOOL, IFeatureCursor** cursor) override {
        std::vector<Feature*> found;
        const HRESULT result = Select(filter, found);
        if (FAILED(result)) {
            *cursor = nullptr;
            return result;
        }
        *cursor = new Cursor(std::move(found));
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IFeatureClass ? static_cast<IFeatureClass*>(this) : nullptr;
    }

private:
    // INTERSECT and ENVELOPE INTERSECT, which agree for points and rectangles; any other
    // relation fails, as a host's search can.
    HRESULT Select(IQueryFilter* filter, std::vector<Feature*>& found) {
        ISpatialFilter* spatial = nullptr;
        if (filter) filter->QueryInterface(IID_ISpatialFilter, reinterpret_cast<void**>(&spatial));
        if (!spatial) {
            for (auto* feature : m_features) {
                feature->AddRef();
                found.push_back(feature);
            }
            return S_OK;
        }
        LONG relation = 0;
        IGeometry* query = nullptr;
        spatial->get_SpatialRel(&relation);
        spatial->get_Geometry(&query);
        spatial->Release();
        auto* shape = dynamic_cast<Geometry*>(query);
        if (relation != 1 && relation != 2) {
            if (query) query->Release();
            return Fail(L"The test host does not evaluate the relation " + std::to_wstring(relation));
        }
        for (auto* feature : m_features) {
            IGeometry* target = nullptr;
            feature->get_Shape(&target);
            if (shape && Overlap(shape->Get(), static_cast<Geometry*>(target)->Get())) {
                feature->AddRef();
                found.push_back(feature);
            }
            target->Release();
        }
        if (query) query->Release();
        return S_OK;
    }
    std::vector<Feature*> m_features;
};

class FeatureLayer final : public ComObject<ILayer, IFeatureLayer, IFeatureSelection> {
public:
    FeatureLayer(std::wstring name, const std::vector<Shape>& shapes) : m_name(std::move(name)), m_class(new FeatureClass(shapes)) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        *name = SysAllocString(m_name.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FeatureClass(IFeatureClass** feature_class) override {
        return Hand<IFeatureClass>(m_class, feature_class);
    }
    HRESULT STDMETHODCALLTYPE Search(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) override {
        return m_class->Search(filter, recycling, cursor);
    }
    HRESULT STDMETHODCALLTYPE Add(IFeature* feature) override {
        LONGLONG oid = 0;
        feature->get_OID(&oid);
        m_selected.insert(oid);
        return S_OK;
    }
    const std::wstring& Name() const { return m_name; }
    std::set<LONGLONG>& Selection() { return m_selected; }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_ILayer) return static_cast<ILayer*>(this);
        if (iid == IID_IFeatureLayer) return static_cast<IFeatureLayer*>(this);
        if (iid == IID_IFeatureSelection) return static_cast<IFeatureSelection*>(this);
        return nullptr;
    }

private:
    std::wstring m_name;
    FeatureClass* m_class;
    std::set<LONGLONG> m_selected;
};

std::vector<FeatureLayer*> g_feature_layers;

HRESULT LayerAt(const std::vector<ILayer*>& layers, LONG index, ILayer** layer) {
    if (index < 0 || index >= static_cast<LONG>(layers.size())) return Fail(L"No layer " + std::to_wstring(index));
    return Hand<ILayer>(layers[static_cast<std::size_t>(index)], layer);
}

class GroupLayer final : public ComObject<ILayer, IGroupLayer, ICompositeLayer> {
public:
    GroupLayer(std::wstring name, std::vector<ILayer*> members) : m_name(std::move(name)), m_members(std::move(members)) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        *name = SysAllocString(m_name.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = static_cast<LONG>(m_members.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Layer(LONG index, ILayer** layer) override { return LayerAt(m_members, index, layer); }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_ILayer) return static_cast<ILayer*>(this);
        if (iid == IID_IGroupLayer) return static_cast<IGroupLayer*>(this);
        if (iid == IID_ICompositeLayer) return static_cast<ICompositeLayer*>(this);
        return nullptr;
    }

private:
    std::wstring m_name;
    std::vector<ILayer*> m_members;
};

class Map final : public ComObject<IMap> {
public:
    explicit Map(std::vector<ILayer*> layers) : m_layers(std::move(layers)) {}
    HRESULT STDMETHODCALLTYPE get_LayerCount(LONG* count) override {
        *count = static_cast<LONG>(m_layers.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Layer(LONG index, ILayer** layer) override { return LayerAt(m_layers, index, layer); }
    HRESULT STDMETHODCALLTYPE get_SelectionCount(LONG* count) override {
        *count = 0;
        for (auto* layer : g_feature_layers) *count += static_cast<LONG>(layer->Selection().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearSelection() override {
        for (auto* layer : g_feature_layers) layer->Selection().clear();
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override { return iid == IID_IUnknown || iid == IID_IMap ? static_cast<IMap*>(this) : nullptr; }

private:
    std::vector<ILayer*> m_layers;
};

class View final : public ComObject<IActiveView> {
public:
    HRESULT STDMETHODCALLTYPE Refresh() override {
        ++g_record.refreshes;
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IActiveView ? static_cast<IActiveView*>(this) : nullptr;
    }
};

class Document final : public ComObject<IMxDocument> {
public:
    explicit Document(Map* map) : m_map(map) {}
    HRESULT STDMETHODCALLTYPE get_FocusMap(IMap** map) override { return Hand<IMap>(m_map, map); }
    HRESULT STDMETHODCALLTYPE get_ActiveView(IActiveView** view) override { return Hand<IActiveView>(m_view, view); }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IMxDocument ? static_cast<IMxDocument*>(this) : nullptr;
    }

private:
    Map* m_map;
    View* m_view = new View();
};

class Progressor final : public ComObject<IStepProgressor> {
public:
    HRESULT STDMETHODCALLTYPE put_Message(BSTR message) override { return Note(L"Message=" + std::wstring(message ? message : L"")); }
    HRESULT STDMETHODCALLTYPE Show() override {
        if (g_fail_progress_show) return Fail(L"The test host's progress bar cannot be shown");
        return Note(L"Show");
    }
    HRESULT STDMETHODCALLTYPE Step() override {
        m_position += m_step;
        return Note(L"Step");
    }
    HRESULT STDMETHODCALLTYPE Hide() override { return Note(L"Hide"); }
    HRESULT STDMETHODCALLTYPE get_MinRange(LONG* value) override { return Give(m_min, value); }
    HRESULT STDMETHODCALLTYPE put_MinRange(LONG value) override { return Set(m_min, value, L"MinRange="); }
    HRESULT STDMETHODCALLTYPE get_MaxRange(LONG* value) override { return Give(m_max, value); }
    HRESULT STDMETHODCALLTYPE put_MaxRange(LONG value) override { return Set(m_max, value, L"MaxRange="); }
    HRESULT STDMETHODCALLTYPE get_StepValue(LONG* value) override { return Give(m_step, value); }
    HRESULT STDMETHODCALLTYPE put_StepValue(LONG value) override { return Set(m_step, value, L"StepValue="); }
    HRESULT STDMETHODCALLTYPE get_Position(LONG* value) override { return Give(m_position, value); }
    HRESULT STDMETHODCALLTYPE put_Position(LONG value) override { return Set(m_position, value, L"Position="); }

protected:
    void* Find(REFIID iid) override {
        const bool answers = iid == IID_IUnknown || iid == IID_IProgressor || iid == IID_IStepProgressor;
        return answers ? static_cast<IStepProgressor*>(this) : nullptr;
    }

private:
    static HRESULT Note(const std::wstring& call) {
        g_record.progress.push_back(call);
        return S_OK;
    }
    static HRESULT Give(LONG value, LONG* out) {
        *out = value;
        return S_OK;
    }
    static HRESULT Set(LONG& field, LONG value, const wchar_t* name) {
        field = value;
        return Note(name + std::to_wstring(value));
    }
    LONG m_min = 0, m_max = 100, m_step = 1, m_position = 0;
};

class StatusBar final : public ComObject<IStatusBar> {
public:
    HRESULT STDMETHODCALLTYPE get_ProgressBar(IStepProgressor** bar) override { return Hand<IStepProgressor>(m_bar, bar); }

protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IStatusBar ? static_cast<IStatusBar*>(this) : nullptr;
    }

private:
    Progressor* m_bar = new Progressor();
};

// IDispatch that describes nothing: the host's objects are used through their own interfaces.
template <typename... Interfaces>
class Automation : public ComObject<IDispatch, Interfaces...> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// An automation object and nothing more: a layout, say, or a hook of another kind.
class Plain final : public Automation<> {
protected:
    void* Find(REFIID iid) override {
        return iid == IID_IUnknown || iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
    }
};

class Application final : public Automation<IApplication> {
public:
    explicit Application(Document* document) : m_document(document) {}
    HRESULT STDMETHODCALLTYPE get_Document(IUnknown** document) override {
        if (g_other_document) return Hand<IUnknown>(static_cast<IDispatch*>(m_other), document);
        return Hand<IUnknown>(static_cast<IMxDocument*>(m_document), document);
    }
    HRESULT STDMETHODCALLTYPE get_StatusBar(IStatusBar** bar) override { return Hand<IStatusBar>(m_bar, bar); }
    HRESULT STDMETHODCALLTYPE get_hWnd(OLE_HANDLE* window) override {
        *window = static_cast<OLE_HANDLE>(reinterpret_cast<INT_PTR>(g_main_window));
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) return static_cast<IDispatch*>(this);
        if (iid == IID_IApplication) return static_cast<IApplication*>(this);
        return nullptr;
    }

private:
    Document* m_document;
    Plain* m_other = new Plain();
    StatusBar* m_bar = new StatusBar();
};

Application* g_application = nullptr;

class SpatialFilter final : public ComObject<ISpatialFilter> {
public:
    ~SpatialFilter() override {
        if (m_geometry) m_geometry->Release();
    }
    HRESULT STDMETHODCALLTYPE get_Geometry(IGeometry** geometry) override { return Hand<IGeometry>(m_geometry, geometry); }
    HRESULT STDMETHODCALLTYPE putref_Geometry(IGeometry* geometry) override {
        if (geometry) geometry->AddRef();
        if (m_geometry) m_geometry->Release();
        m_geometry = geometry;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SpatialRel(LONG* relation) override {
        *relation = m_relation;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_SpatialRel(LONG relation) override {
        m_relation = relation;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_GeometryField(BSTR* field) override {
        *field = SysAllocString(m_field.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_GeometryField(BSTR field) override {
        m_field = field ? field : L"";
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        const bool answers = iid == IID_IUnknown || iid == IID_IQueryFilter || iid == IID_ISpatialFilter;
        return answers ? static_cast<ISpatialFilter*>(this) : nullptr;
    }

private:
    IGeometry* m_geometry = nullptr;
    LONG m_relation = 0;
    std::wstring m_field;
};

// A tool window owned by the application's window, holding the dialog's window.
// Its window exists from the start, so that its caption and position may be set before
// it holds a dialog.
class Frame final : public ComObject<IModelessFrame, IWindowPosition> {
public:
    Frame()
        : m_window(CreateWindowExW(WS_EX_TOOLWINDOW, L"TestHostFrame", L"", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0,
                                   100, 100, g_main_window, nullptr, GetModuleHandleW(nullptr), nullptr)) {}
    HRESULT STDMETHODCALLTYPE Create(OLE_HANDLE dialog_window) override {
        auto dialog = reinterpret_cast<HWND>(static_cast<INT_PTR>(dialog_window));
        RECT size{};
        GetWindowRect(dialog, &size);
        SetWindowPos(m_window, nullptr, 0, 0, size.right - size.left, size.bottom - size.top + 20,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowLongPtrW(dialog, GWL_STYLE, (GetWindowLongPtrW(dialog, GWL_STYLE) & ~WS_POPUP & ~WS_CAPTION) | WS_CHILD);
        SetParent(dialog, m_window);
        SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        ShowWindow(dialog, SW_SHOW);
        g_record.frames.push_back(m_window);
        g_record.dialogs.push_back(dialog);
        return m_window ? S_OK : Fail(L"The frame window cannot be created");
    }
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) override {
        wchar_t text[256] = {};
        if (m_window) GetWindowTextW(m_window, text, 256);
        *caption = SysAllocString(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR caption) override {
        if (!m_window) return Fail(L"The frame has no window yet");
        SetWindowTextW(m_window, caption ? caption : L"");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL* visible) override {
        *visible = m_window && IsWindowVisible(m_window) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL visible) override {
        if (!m_window) return Fail(L"The frame has no window yet");
        ShowWindow(m_window, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Move(LONG left, LONG top, LONG width, LONG height) override {
        if (!m_window) return Fail(L"The frame has no window yet");
        RECT now{};
        GetWindowRect(m_window, &now);
        MoveWindow(m_window, left, top, width ? width : now.right - now.left, height ? height : now.bottom - now.top,
                   TRUE);
        return S_OK;
    }

protected:
    void* Find(REFIID iid) override {
        if (iid == IID_IUnknown || iid == IID_IModelessFrame) return static_cast<IModelessFrame*>(this);
        if (iid == IID_IWindowPosition) return static_cast<IWindowPosition*>(this);
        return nullptr;
    }

private:
    HWND m_window;
};

std::vector<DWORD> g_cookies;

template <typename Make>
void Register(REFCLSID clsid, Make make) {
    // The class objects registered for this process, for as long as it runs.
    static std::vector<std::unique_ptr<IClassFactory>> factories;
    factories.push_back(std::make_unique<selvane::com::ClassObject<Make, void (*)(bool)>>(make, [](bool) {}));
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(clsid, factories.back().get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &cookie))) {
        g_cookies.push_back(cookie);
    }
}

LRESULT CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void MakeMap(const std::vector<MapLayer>& layers, const std::wstring& group, const std::vector<MapLayer>& grouped) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = FrameProcedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"TestHostFrame";
    RegisterClassExW(&window_class);
    g_main_window = CreateWindowExW(0, L"TestHostFrame", L"Test host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);

    std::vector<ILayer*> top;
    for (const auto& wanted : layers) {
        auto* layer = new FeatureLayer(wanted.name, wanted.shapes);
        g_feature_layers.push_back(layer);
        top.push_back(layer);
    }
    std::vector<ILayer*> members;
    for (const auto& wanted : grouped) {
        auto* layer = new FeatureLayer(wanted.name, wanted.shapes);
        g_feature_layers.push_back(layer);
        members.push_back(layer);
    }
    if (!group.empty()) top.push_back(new GroupLayer(group, members));
    g_application = new Application(new Document(new Map(top)));
}

void RegisterHostClasses() {
    Register(CLSID_AppRef, [] {
        g_application->AddRef();
        return static_cast<IUnknown*>(static_cast<IApplication*>(g_application));
    });
    Register(CLSID_SpatialFilter, [] { return static_cast<IUnknown*>(static_cast<ISpatialFilter*>(new SpatialFilter())); });
    Register(CLSID_ModelessFrame, [] { return static_cast<IUnknown*>(static_cast<IModelessFrame*>(new Frame())); });
}

void RevokeHostClasses() {
    for (const auto cookie : g_cookies) CoRevokeClassObject(cookie);
    g_cookies.clear();
}

IDispatch* Hook() { return static_cast<IDispatch*>(g_application); }

IDispatch* PlainHook() {
    static Plain* plain = new Plain();
    return plain;
}

void UseOtherDocument(bool other) { g_other_document = other; }

void FailProgressShow(bool fail) { g_fail_progress_show = fail; }

std::set<LONGLONG> Selected(const std::wstring& layer) {
    for (auto* feature_layer : g_feature_layers) {
        if (feature_layer->Name() == layer) return feature_layer->Selection();
    }
    return {};
}

Record& Seen() { return g_record; }

HWND MainWindow() { return g_main_window; }

}  // namespace test_host
