#include "gis/files/ogr_filter_process.h"

#include <ogrsf_frmts.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "gis/support/message_text.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// Writes all of `bytes` to `descriptor`; false when the reader has gone.
bool WriteAll(int descriptor, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// What the child sends after the ids: GDAL's last message, then its length (8 bytes), the
// count of ids (8) and whether the filter ran to its end (1).
constexpr std::size_t kTrailerSize = 8 + 8 + 1;

// The child: the file opened afresh (the parent's handles keep their own positions), the
// ids written as they pass, then the trailer. Never returns.
[[noreturn]] void Evaluate(int out, const std::string& path, const std::string& table, const std::string& query) {
    CPLSetErrorHandler(CPLQuietErrorHandler);
    std::vector<std::int64_t> ids;
    std::uint64_t count = 0;
    std::uint8_t whole = 0;
    const auto flush = [&] {
        if (!WriteAll(out, reinterpret_cast<const char*>(ids.data()), ids.size() * sizeof ids[0])) _exit(1);
        ids.clear();
    };
    {
        GDALDatasetUniquePtr dataset(
            GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
        OGRLayer* layer = dataset ? dataset->GetLayerByName(table.c_str()) : nullptr;
        if (layer && layer->SetAttributeFilter(query.c_str()) == OGRERR_NONE) {
            const char* no_shapes[] = {"OGR_GEOMETRY", nullptr};
            layer->SetIgnoredFields(no_shapes);
            layer->ResetReading();
            CPLErrorReset();
            for (auto& feature : *layer) {
                ids.push_back(feature->GetFID());
                ++count;
                if (ids.size() == 4096) flush();
            }
            whole = CPLGetLastErrorType() < CE_Failure ? 1 : 0;
        }
    }
    flush();
    const std::string message = whole ? std::string() : std::string(CPLGetLastErrorMsg());
    char trailer[kTrailerSize];
    const std::uint64_t message_size = message.size();
    std::memcpy(trailer, &message_size, 8);
    std::memcpy(trailer + 8, &count, 8);
    trailer[16] = static_cast<char>(whole);
    const bool sent = WriteAll(out, message.data(), message.size()) && WriteAll(out, trailer, sizeof trailer);
    _exit(sent ? 0 : 1);
}

}  // namespace

std::optional<std::vector<std::int64_t>> OgrFilterIdsWithin(const std::string& path, const std::string& table,
                                                            const std::string& query, std::chrono::milliseconds limit) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw platform::Error(platform::kFail, std::string("cannot run the definition query: ") + std::strerror(errno));
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw platform::Error(platform::kFail, std::string("cannot run the definition query: ") + std::strerror(errno));
    }
    if (child == 0) {
        // The program may take its signals on a thread of its own; this process ends by them.
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::close(ends[0]);
        Evaluate(ends[1], path, table, query);
    }
    ::close(ends[1]);
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool stopped = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            stopped = true;
            break;
        }
        pollfd wait{ends[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[65536];
        const ssize_t read = ::read(ends[0], buffer, sizeof buffer);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) break;  // the child is done
        received.append(buffer, static_cast<std::size_t>(read));
    }
    ::close(ends[0]);
    if (stopped) ::kill(child, SIGKILL);
    int child_status = 0;
    while (::waitpid(child, &child_status, 0) < 0 && errno == EINTR) {
    }
    if (stopped) return std::nullopt;
    const auto failed = [](const std::string& why) {
        return platform::Error(platform::kFail, "the definition query could not be evaluated: " + why);
    };
    if (!WIFEXITED(child_status) || WEXITSTATUS(child_status) != 0 || received.size() < kTrailerSize) {
        throw failed("its process ended early");
    }
    std::uint64_t message_size = 0;
    std::uint64_t id_count = 0;
    const char* end = received.data() + received.size() - kTrailerSize;
    std::memcpy(&message_size, end, 8);
    std::memcpy(&id_count, end + 8, 8);
    const bool whole = end[16] != 0;
    const std::size_t body = received.size() - kTrailerSize;
    if (id_count > body / 8 || id_count * 8 + message_size != body) throw failed("its process sent what it could not have");
    if (!whole) {
        const std::string message = received.substr(id_count * 8, message_size);
        throw failed(message.empty() ? "GDAL gave no reason" : InMessage(message));
    }
    std::vector<std::int64_t> ids(id_count);
    if (id_count > 0) std::memcpy(ids.data(), received.data(), id_count * 8);
    return ids;
}

}  // namespace selvane::gis
