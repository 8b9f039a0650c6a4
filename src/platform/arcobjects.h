#pragma once

// The map application's object model as the system sees it: the application, its
// document and focus map, layers, feature classes, spatial filters, cursors,
// selections, the status-bar progress bar, modeless frames and the command interface.
// Every member may throw platform::Error; a member that returns an object returns a
// shared reference, or nullptr where the member says "nothing".

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/object.h"
#include "platform/runtime.h"

namespace selvane::platform {

/// Spatial relation codes of a spatial filter (esriSpatialRelEnum).
enum esriSpatialRelEnum : std::int32_t {
    esriSpatialRelUndefined = 0,
    esriSpatialRelIntersects = 1,
    esriSpatialRelEnvelopeIntersects = 2,
    esriSpatialRelIndexIntersects = 3,
    esriSpatialRelTouches = 4,
    esriSpatialRelOverlaps = 5,
    esriSpatialRelCrosses = 6,
    esriSpatialRelWithin = 7,
    esriSpatialRelContains = 8,
    esriSpatialRelRelation = 9,
};

class IMap;
class ILayer;
class IActiveView;
class IStatusBar;
class IFeatureClass;
class IFeatureCursor;
class IQueryFilter;

/// A shape. Opaque to the system: it is only handed from a feature to a spatial filter.
class IGeometry : public virtual IObject {
public:
    /// True for an empty shape.
    virtual bool IsEmpty() const = 0;
};

/// The running application.
class IApplication : public virtual IObject {
public:
    /// The open document (an IMxDocument for a map document); never nullptr.
    virtual std::shared_ptr<IObject> Document() = 0;
    /// The application's status bar; never nullptr.
    virtual std::shared_ptr<IStatusBar> StatusBar() = 0;
};

/// A map document.
class IMxDocument : public virtual IObject {
public:
    /// The map that has the focus; never nullptr.
    virtual std::shared_ptr<IMap> FocusMap() = 0;
    /// The view that draws the focus map; never nullptr.
    virtual std::shared_ptr<IActiveView> ActiveView() = 0;
};

/// A map: top-level layers and the selection of all its feature layers.
class IMap : public virtual IObject {
public:
    virtual std::int32_t LayerCount() = 0;
    /// The top-level layer at `index` (from 0); throws Error when out of range.
    virtual std::shared_ptr<ILayer> Layer(std::int32_t index) = 0;
    /// Number of selected features in every feature layer of the map, groups included.
    virtual std::int32_t SelectionCount() = 0;
    /// Clears the selection of every layer of the map.
    virtual void ClearSelection() = 0;
};

/// A view of the map.
class IActiveView : public virtual IObject {
public:
    /// A full redraw.
    virtual void Refresh() = 0;
};

/// Any layer.
class ILayer : public virtual IObject {
public:
    /// The display name, as the user gave it.
    virtual std::string Name() = 0;
};

/// Marks a group layer.
class IGroupLayer : public virtual IObject {};

/// A layer with member layers.
class ICompositeLayer : public virtual IObject {
public:
    virtual std::int32_t Count() = 0;
    /// The member at `index` (from 0); throws Error when out of range.
    virtual std::shared_ptr<ILayer> Layer(std::int32_t index) = 0;
};

/// A feature layer: a feature class shown through an optional definition query.
class IFeatureLayer : public virtual IObject {
public:
    virtual std::shared_ptr<IFeatureClass> FeatureClass() = 0;
    /// A cursor over the features the layer shows (its definition query applies) that
    /// match `filter` (nullptr: every feature). A recycling cursor reuses one feature object.
    virtual std::shared_ptr<IFeatureCursor> Search(std::shared_ptr<IQueryFilter> filter,
                                                   bool recycling) = 0;
};

/// One feature: an object id and a shape.
class IFeature : public virtual IObject {
public:
    virtual std::int64_t OID() = 0;
    /// The shape; nullptr for a feature without one. For a feature of a recycling cursor
    /// the shape is valid until the cursor's next fetch.
    virtual std::shared_ptr<IGeometry> Shape() = 0;
};

/// The selection of a feature layer.
class IFeatureSelection : public virtual IObject {
public:
    /// Adds one feature of the layer's class; a feature already selected stays selected once.
    virtual void Add(const std::shared_ptr<IFeature>& feature) = 0;
};

/// A table of features with one shape field.
class IFeatureClass : public virtual IObject {
public:
    virtual std::string ShapeFieldName() = 0;
    /// Number of features matching `filter` (nullptr: all).
    virtual std::int32_t FeatureCount(std::shared_ptr<IQueryFilter> filter) = 0;
    /// A cursor over the features matching `filter` (nullptr: all). A spatial filter's
    /// failure to evaluate a shape is thrown by the cursor's NextFeature.
    virtual std::shared_ptr<IFeatureCursor> Search(std::shared_ptr<IQueryFilter> filter,
                                                   bool recycling) = 0;
};

/// A query filter; the system sets no where clause.
class IQueryFilter : public virtual IObject {};

/// A spatial filter: features whose shape stands in `SpatialRel` to `Geometry`, the
/// geometry being the relation's first operand.
class ISpatialFilter : public virtual IQueryFilter {
public:
    virtual std::shared_ptr<IGeometry> Geometry() = 0;
    virtual void SetGeometry(std::shared_ptr<IGeometry> geometry) = 0;
    virtual esriSpatialRelEnum SpatialRel() = 0;
    virtual void SetSpatialRel(esriSpatialRelEnum relation) = 0;
    virtual std::string GeometryField() = 0;
    virtual void SetGeometryField(const std::string& field) = 0;
};

/// A forward-only cursor over features.
class IFeatureCursor : public virtual IObject {
public:
    /// The next feature, or nullptr at the end.
    virtual std::shared_ptr<IFeature> NextFeature() = 0;
};

/// Progress display.
class IProgressor : public virtual IObject {
public:
    virtual void SetMessage(const std::string& message) = 0;
    virtual void Show() = 0;
    /// Advances by the step value.
    virtual void Step() = 0;
    virtual void Hide() = 0;
};

/// A progress bar with a range and a step.
class IStepProgressor : public virtual IProgressor {
public:
    virtual void SetMinRange(std::int32_t value) = 0;
    virtual void SetMaxRange(std::int32_t value) = 0;
    virtual void SetStepValue(std::int32_t value) = 0;
    virtual void SetPosition(std::int32_t value) = 0;
    virtual std::int32_t MinRange() = 0;
    virtual std::int32_t MaxRange() = 0;
    virtual std::int32_t StepValue() = 0;
    virtual std::int32_t Position() = 0;
};

/// The application's status bar.
class IStatusBar : public virtual IObject {
public:
    /// The status bar's progress bar; the same object on every call.
    virtual std::shared_ptr<IStepProgressor> ProgressBar() = 0;
};

/// A form that a modeless frame can host: dialogs implement it.
class IHostedForm : public virtual IObject {
public:
    /// The dialog's form (not loaded by this call).
    virtual std::shared_ptr<IForm> Form() = 0;
};

/// A modeless window of the application that hosts one dialog.
class IModelessFrame : public virtual IObject {
public:
    /// Hosts the dialog; this loads the dialog's form. The frame keeps the dialog alive
    /// while it is visible.
    virtual void Create(std::shared_ptr<IHostedForm> dialog) = 0;
    virtual std::string Caption() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool Visible() = 0;
    virtual void SetVisible(bool visible) = 0;
};

/// A window's position, in pixels.
class IWindowPosition : public virtual IObject {
public:
    /// Moves the window; a width or height of 0 keeps that size.
    virtual void Move(std::int32_t left, std::int32_t top, std::int32_t width,
                      std::int32_t height) = 0;
};

/// A command of the application's user interface.
class ICommand : public virtual IObject {
public:
    virtual bool Enabled() = 0;
    virtual bool Checked() = 0;
    virtual std::string Name() = 0;
    virtual std::string Caption() = 0;
    virtual std::string Tooltip() = 0;
    virtual std::string Message() = 0;
    virtual std::string HelpFile() = 0;
    virtual std::int32_t HelpContextID() = 0;
    /// A bitmap handle (window-system handle, 0 for none).
    virtual std::int32_t Bitmap() = 0;
    virtual std::string Category() = 0;
    /// Called once with the hook, the application.
    virtual void OnCreate(std::shared_ptr<IObject> hook) = 0;
    virtual void OnClick() = 0;
};

/// The creatable classes, made by the host.
class IObjectFactory {
public:
    virtual ~IObjectFactory() = default;
    /// An object that refers to the running application (viewed as IApplication).
    virtual std::shared_ptr<IObject> CreateAppRef() = 0;
    virtual std::shared_ptr<ISpatialFilter> CreateSpatialFilter() = 0;
    virtual std::shared_ptr<IModelessFrame> CreateModelessFrame() = 0;
};

/// Installs the factory of creatable classes (the host does this at start-up).
void InstallObjectFactory(std::shared_ptr<IObjectFactory> factory);
/// The installed factory; throws Error when none is installed.
IObjectFactory& ObjectFactory();

/// The creatable classes, by their names.
std::shared_ptr<IObject> AppRef();
std::shared_ptr<ISpatialFilter> SpatialFilter();
std::shared_ptr<IModelessFrame> ModelessFrame();

}  // namespace selvane::platform
