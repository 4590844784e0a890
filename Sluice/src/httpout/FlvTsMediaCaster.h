#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FlvTagMuxer.h"
#include "HttpOutMount.h"
#include "HttpOutTsMediaCaster.h"

namespace av {

/// The FLV stream's place on the server: answers "/NAME.flv" with the head of an endless
/// FLV body; the client then joins the stream (HttpOutConnection::flvStream).
class FlvMount : public HttpOutMount {
public:
    explicit FlvMount(std::string name) : m_name(std::move(name)) {}
    std::string key() const override;
    bool serve(const std::string& path, uint32_t peer, bool head, HttpOutReply& reply) override;
    std::string name() const override;
    void setName(const std::string& name) override;

private:
    mutable std::mutex m_mutex;
    std::string m_name;
};

/// Serves the stream as HTTP-FLV at "/NAME.flv" (default "/live") on the HTTP output server
/// of its port. Each client gets the FLV header, the metadata and the sequence headers, then
/// the tags from the next key frame, with the TCP caster's flow control (jam rules) and the
/// port's client limits. A stream with H.265 video is not served: FLV cannot carry it; the
/// output's state says so.
class FlvTsMediaCaster : public HttpOutTsMediaCaster, private FlvTagSink {
public:
    static constexpr const char* kDefaultName = "/live";
    static constexpr const char* kNeedsH264 = "HTTP-FLV needs H.264";

    FlvTsMediaCaster();
    ~FlvTsMediaCaster() override;

    void onMuxData(const uint8_t*, size_t, int64_t, int) override {}
    /// One row per connected client.
    std::vector<DestinationStats> destinationStats() override;

private:
    void onFlvTag(const std::shared_ptr<MediaPacket>& tag) override;

    std::shared_ptr<FlvTagMuxer> m_flv;
    std::shared_ptr<FlvMount> m_mount;
};

}  // namespace av
