#pragma once

// GEOS's C++ API is the engine of the spatial search; Debian ships it as libgeos++-dev.
#ifndef USE_UNSTABLE_GEOS_CPP_API
#define USE_UNSTABLE_GEOS_CPP_API
#endif

#include <geos/geom/Envelope.h>
#include <geos/geom/Geometry.h>
#include <geos/geom/GeometryFactory.h>
#include <geos/geom/prep/PreparedGeometry.h>
#include <geos/geom/prep/PreparedGeometryFactory.h>
#include <geos/index/strtree/TemplateSTRtree.h>
#include <geos/io/WKBReader.h>
#include <geos/io/WKBWriter.h>
#include <geos/io/WKTReader.h>
#include <geos/util/GEOSException.h>
