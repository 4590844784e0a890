#pragma once

#include <string>

#include "HttpHandler.h"

/// The device's web server: pages from a directory, the JSON API under "/api", uploads at
/// "/upload" and the credential change at "/sys/password". Configured and started from one
/// thread (the program's main thread); requests are served on the server's own threads.
class HttpServer {
public:
    virtual ~HttpServer() = default;

    /// The directory of the web pages. False and no change for an empty path.
    virtual bool setDocumentRoot(const std::string& path) = 0;
    /// The directory uploaded files are stored in. False and no change for an empty path.
    virtual bool setUploadDir(const std::string& path) = 0;
    /// The digest password file. A path whose file is missing gets the default credentials
    /// written to it; an empty path turns authentication off. Always true.
    virtual bool setAuthFile(const std::string& path) = 0;
    /// Binds the port and starts serving with this handler (not owned; it must outlive the
    /// server's run). False for a negative port or a null handler.
    virtual bool start(int port, HttpHandler* handler) = 0;
    /// Stops serving; returns when no request is in progress any more.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};
