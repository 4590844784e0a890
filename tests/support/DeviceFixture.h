#pragma once
// A sandbox board with the media link open and a media-process stand-in bound to its
// server socket, for tests of the device handler.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DemoHandler.h"
#include "MediaLink.h"
#include "MediaStandIn.h"
#include "MediaState.h"
#include "TestSupport.h"

// The plain documents' read and write path (DocumentHost), by record type; index 0 for the
// documents of one record.
template <class R>
int writeDoc(enc::DocumentHost& host, int index, const R& record, std::string& response) {
    return host.writeDocument(index, &record, response);
}
template <class R>
int readDoc(enc::DocumentHost& host, int index, R& record) {
    return host.readDocument(index, &record);
}
inline int writeOverlays(enc::DocumentHost& host, int index, const enc::OsdSettings& first,
                         const enc::OsdSettings& second, std::string& response) {
    const enc::OsdSettings pair[2] = {first, second};
    return host.writeDocument(index, pair, response);
}
inline int readOverlays(enc::DocumentHost& host, int index, enc::OsdSettings& first,
                        enc::OsdSettings& second) {
    enc::OsdSettings pair[2];
    const int result = host.readDocument(index, pair);
    first = pair[0];
    second = pair[1];
    return result;
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        standIn = std::make_unique<testsupport::MediaStandIn>(
            board.path(enc::MediaLink::kServerSocket), board.path(enc::MediaLink::kClientSocket));
        ASSERT_TRUE(standIn->ok());
        ASSERT_TRUE(link.startMediaLink());
        board.clearBoardLog();
    }

    std::unique_ptr<DemoHandler> makeHandler() {
        return std::make_unique<DemoHandler>(link, media);
    }

    std::string settingsPath() const { return board.path(DemoHandler::kSettingsFile); }
    std::string settingsText() const { return testsupport::readFile(settingsPath()); }
    void writeSettings(const std::string& text) const {
        testsupport::writeFile(settingsPath(), text);
    }
    /// The settings file as a fresh object reads it.
    enc::EncoderConfigFile savedSettings() const {
        enc::EncoderConfigFile saved;
        EXPECT_TRUE(saved.load(settingsPath()));
        return saved;
    }
    bool logHas(const std::string& line) const {
        for (const auto& l : board.boardLog()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    testsupport::SandboxBoard board;
    testsupport::ScopedEnv noNetApply{"BOARD_NET", nullptr};
    enc::MediaState media;
    enc::MediaLink link;
    std::unique_ptr<testsupport::MediaStandIn> standIn;
    std::string response = "{}";
};
