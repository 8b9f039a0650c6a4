#include "feature_adapters.h"

#include "host_call.h"

namespace selvane::com {
namespace {

class Geometry final : public platform::IGeometry, public HostObject {
public:
    explicit Geometry(ComRef<::IGeometry> geometry) : m_geometry(std::move(geometry)) {}
    bool IsEmpty() const override {
        const auto empty = ReadValue<VARIANT_BOOL>([this](VARIANT_BOOL* value) {
                                                       return m_geometry->get_IsEmpty(value);
                                                   },
                                                   "IGeometry.IsEmpty");
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
        return ReadValue<LONGLONG>([this](LONGLONG* value) { return m_feature->get_OID(value); }, "IFeature.OID");
    }
    std::shared_ptr<platform::IGeometry> Shape() override {
        auto shape = ReadObject<::IGeometry>([this](::IGeometry** out) { return m_feature->get_Shape(out); },
                                             "IFeature.Shape");
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
        auto feature = ReadObject<::IFeature>([this](::IFeature** out) { return m_cursor->NextFeature(out); },
                                              "IFeatureCursor.NextFeature");
        return feature ? std::make_shared<Feature>(std::move(feature)) : nullptr;
    }

private:
    ComRef<::IFeatureCursor> m_cursor;
};

class SpatialFilter final : public platform::ISpatialFilter, public HostObject {
public:
    explicit SpatialFilter(ComRef<::ISpatialFilter> filter) : m_filter(std::move(filter)) {}
    std::shared_ptr<platform::IGeometry> Geometry() override {
        auto geometry = ReadObject<::IGeometry>([this](::IGeometry** out) { return m_filter->get_Geometry(out); },
                                                "ISpatialFilter.Geometry");
        return geometry ? std::make_shared<com::Geometry>(std::move(geometry)) : nullptr;
    }
    void SetGeometry(std::shared_ptr<platform::IGeometry> geometry) override {
        auto* host = dynamic_cast<com::Geometry*>(geometry.get());
        if (geometry && !host) throw platform::Error(platform::kInvalidArg, "The shape is not one of the host's");
        Check(m_filter->putref_Geometry(host ? host->Get() : nullptr), "ISpatialFilter.Geometry");
    }
    platform::esriSpatialRelEnum SpatialRel() override {
        const auto relation = ReadValue<LONG>([this](LONG* value) { return m_filter->get_SpatialRel(value); },
                                              "ISpatialFilter.SpatialRel");
        return static_cast<platform::esriSpatialRelEnum>(relation);
    }
    void SetSpatialRel(platform::esriSpatialRelEnum relation) override {
        Check(m_filter->put_SpatialRel(relation), "ISpatialFilter.SpatialRel");
    }
    std::string GeometryField() override {
        return ReadText([this](BSTR* text) { return m_filter->get_GeometryField(text); },
                        "ISpatialFilter.GeometryField");
    }
    void SetGeometryField(const std::string& field) override {
        Check(m_filter->put_GeometryField(UniqueBstr(field).Get()), "ISpatialFilter.GeometryField");
    }
    IUnknown* Unknown() const override { return m_filter.Get(); }

private:
    ComRef<::ISpatialFilter> m_filter;
};

class FeatureClass final : public platform::IFeatureClass {
public:
    explicit FeatureClass(ComRef<::IFeatureClass> feature_class) : m_class(std::move(feature_class)) {}
    std::string ShapeFieldName() override {
        return ReadText([this](BSTR* text) { return m_class->get_ShapeFieldName(text); },
                        "IFeatureClass.ShapeFieldName");
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

}  // namespace

std::shared_ptr<platform::ISpatialFilter> AdaptSpatialFilter(ComRef<::ISpatialFilter> filter) {
    return filter ? std::make_shared<SpatialFilter>(std::move(filter)) : nullptr;
}

std::shared_ptr<platform::IFeatureClass> AdaptFeatureClass(ComRef<::IFeatureClass> feature_class) {
    return feature_class ? std::make_shared<FeatureClass>(std::move(feature_class)) : nullptr;
}

std::shared_ptr<platform::IFeatureCursor> AdaptFeatureCursor(ComRef<::IFeatureCursor> cursor) {
    return cursor ? std::make_shared<FeatureCursor>(std::move(cursor)) : nullptr;
}

ComRef<::IQueryFilter> HostFilter(const std::shared_ptr<platform::IQueryFilter>& filter) {
    if (!filter) return {};
    auto* host = dynamic_cast<HostObject*>(filter.get());
    if (!host) throw platform::Error(platform::kInvalidArg, "The query filter is not one of the host's");
    return ComRef<::IUnknown>::Share(host->Unknown()).As<::IQueryFilter>(IID_IQueryFilter);
}

::IFeature* HostFeature(const std::shared_ptr<platform::IFeature>& feature) {
    auto* host = dynamic_cast<com::Feature*>(feature.get());
    if (!host) throw platform::Error(platform::kInvalidArg, "The feature is not one of the host's");
    return host->Get();
}

}  // namespace selvane::com
