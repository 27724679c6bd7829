// The service's endpoints.
#pragma once

#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "lib/mwconv.h"
#include "serve/gate.h"
#include "serve/options.h"
#include "serve/upload.h"

namespace mwconv::serve {

// The folders that containers are converted into, each removed when its
// answer has been sent (or has failed), and all of them when the service
// stops.
class ScratchFolders {
public:
    // A new empty folder; empty when none can be made.
    std::filesystem::path make();
    void remove(const std::filesystem::path &folder);
    void remove_all();

private:
    std::mutex mutex_;
    std::set<std::filesystem::path> folders_;
};

class Routes {
public:
    Routes(const Library &library, const Settings &settings)
        : library_(library), settings_(settings), gate_(settings.jobs, settings.queue) {}
    void install(httplib::Server &server);
    void remove_scratch() { scratch_.remove_all(); }

private:
    bool take_upload(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader,
                     Upload &upload, bool admitted);
    void convert(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void identify(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void convert_document(Upload &upload, const RunOptions &options, httplib::Response &res);
    bool convert_container(Upload &upload, const RunOptions &options, httplib::Response &res);
    bool convert_wrapped(Upload &upload, const RunOptions &options, httplib::Response &res);

    const Library &library_;
    const Settings &settings_;
    Gate gate_;
    ScratchFolders scratch_;
    std::atomic<unsigned> finished_{0};  // conversions, for giving freed pages back
};

}  // namespace mwconv::serve
