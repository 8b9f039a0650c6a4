#include "gis/support/gdal_session.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_http.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "gis/support/ascii_case.h"
#include "gis/support/message_text.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

std::atomic<bool> g_network_allowed{false};
std::mutex g_allowed_by_lock;
std::string g_allowed_by = "reading over the network must be allowed for it";

// GDAL's file systems and address forms that reach over the network.
constexpr std::array<std::string_view, 14> kNetworkPrefixes{
    "/vsicurl", "/vsis3", "/vsigs", "/vsiaz", "/vsiadls", "/vsioss", "/vsiswift", "/vsihdfs", "/vsiwebhdfs",
    "http://", "https://", "ftp://", "wfs:", "wms:"};

bool IsNetworkAddress(std::string_view path) {
    const std::string lower = AsciiLower(path.substr(0, 16));
    for (const auto prefix : kNetworkPrefixes) {
        if (std::string_view(lower).starts_with(prefix)) return true;
    }
    return false;
}

// Answers every web request of GDAL (WFS, WMS, tile services) with a refusal while the
// network is off.
CPLHTTPResult* RefuseRequest(const char* url, CSLConstList, GDALProgressFunc, void*, CPLHTTPFetchWriteFunc, void*,
                             void*) {
    if (g_network_allowed) return nullptr;  // the default fetcher serves it
    auto* result = static_cast<CPLHTTPResult*>(CPLCalloc(1, sizeof(CPLHTTPResult)));
    result->nStatus = 1;
    result->pszErrBuf = CPLStrdup((std::string("the network is off: ") + url).c_str());
    CPLError(CE_Failure, CPLE_AppDefined, "The network is off: %s", url);
    return result;
}

void ApplyNetworkPolicy(bool allowed) {
    // /vsicurl/ and its kin then treat every remote file as missing, without asking.
    CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", allowed ? nullptr : ".network-is-off");
    OSRSetPROJEnableNetwork(allowed ? TRUE : FALSE);
}

}  // namespace

void InitialiseGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        // SQLite counts every allocation under one lock unless told not to, and the readers
        // of a table's slices allocate on both cores. Nothing reads the counts. Refused
        // (harmlessly) once SQLite has started, as inside a host that started it first.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        GDALAllRegister();
        // GDAL prints "ERROR n: ..." by default; its messages belong inside ours.
        CPLSetErrorHandler(CPLQuietErrorHandler);
        // GDAL reads only the first 10,000 tables of a GeoPackage unless told otherwise; a
        // map names any of them.
        if (!CPLGetConfigOption("OGR_TABLE_LIMIT", nullptr)) CPLSetConfigOption("OGR_TABLE_LIMIT", "10000000");
        CPLHTTPPushFetchCallback(RefuseRequest, nullptr);
        ApplyNetworkPolicy(g_network_allowed);
    });
}

void AllowNetwork(bool allowed) {
    InitialiseGdal();
    g_network_allowed = allowed;
    ApplyNetworkPolicy(allowed);
}

bool NetworkAllowed() { return g_network_allowed; }

void SetNetworkAllowedBy(std::string how) {
    std::lock_guard lock(g_allowed_by_lock);
    g_allowed_by = std::move(how);
}

std::string NetworkOffReason() {
    std::lock_guard lock(g_allowed_by_lock);
    return "the network is off (" + g_allowed_by + ")";
}

void RequireLocalSource(const std::string& path) {
    if (IsNetworkAddress(path)) {
        if (g_network_allowed) return;
        throw platform::Error(platform::kFail, path + ": a network address, and " + NetworkOffReason());
    }
    if (std::string_view(path).starts_with("/vsimem/")) {
        // GDAL's files in memory: what a host or a test made itself.
        VSIStatBufL stat;
        if (VSIStatL(path.c_str(), &stat) != 0) throw platform::Error(platform::kFail, path + ": no such file");
        return;
    }
    if (path.find('\0') != std::string::npos) {
        throw platform::Error(platform::kFail, InMessage(path) + ": a path cannot hold a NUL character");
    }
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        // The system's own reason where it has one: a loop of links is no missing file.
        const bool other = error && error != std::errc::no_such_file_or_directory;
        throw platform::Error(platform::kFail, InMessage(path) + ": " + (other ? error.message() : "no such file"));
    }
    if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status)) {
        throw platform::Error(platform::kFail, path + ": not a regular file or folder (a pipe or a device cannot be "
                                                      "read as map data)");
    }
}

GdalMessages::GdalMessages() {
    InitialiseGdal();
    CPLPushErrorHandlerEx(
        [](CPLErr level, CPLErrorNum number, const char* message) {
            auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
            if (!self || !message) return;
            if (level >= CE_Failure) {
                self->m_failed = true;
                self->m_failures.emplace_back(message);
            } else if (level == CE_Warning) {
                self->m_warnings.emplace_back(message);
            }
            (void)number;
        },
        this);
    CPLErrorReset();
}

GdalMessages::~GdalMessages() { CPLPopErrorHandler(); }

std::string GdalMessages::Text(const std::string& fallback) const {
    std::string text;
    for (const auto* list : {&m_failures, &m_warnings}) {
        for (const auto& message : *list) {
            if (!text.empty()) text += "; ";
            text += message;
        }
    }
    return text.empty() ? fallback : text;
}

void GdalMessages::Clear() {
    m_failed = false;
    m_failures.clear();
    m_warnings.clear();
    CPLErrorReset();
}

}  // namespace selvane::gis
