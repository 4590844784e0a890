// GET /api/limits: the pages' field limits, from the device's own clamp and Allowed rows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "FakeDevice.h"
#include "JsonCast.h"
#include "JsonDoc.h"
#include "SettingsDocument.h"

namespace {

using testsupport::JsonDoc;

std::string limits(std::string_view method = "GET", ApiResult* result = nullptr) {
    httptest::FakeDevice dev;
    std::string response = "{}";
    const ApiResult r = dev.api.handleApi(method, "/limits", "", "", response);
    if (result != nullptr) {
        *result = r;
    }
    EXPECT_TRUE(dev.calls().empty()) << "the device is not asked";
    return response;
}

const cJSON* field(const JsonDoc& doc, const char* document, const char* key) {
    return cJSON_GetObjectItemCaseSensitive(doc.member(document), key);
}

std::string text(const cJSON* item) {
    char* printed = cJSON_PrintUnformatted(item);
    std::string out = printed != nullptr ? printed : "<missing>";
    cJSON_free(printed);
    return out;
}

TEST(LimitsDocument, EveryLimitAsTheDeviceAppliesIt) {
    const JsonDoc doc(limits());
    ASSERT_TRUE(doc.ok());
    const struct {
        const char* document;
        const char* key;
        const char* limit;
    } rows[] = {
        {"video", "bitrate", R"({"min":256,"max":[12000,12000]})"},
        // The main stream follows the input's rate; the sub stream stops at 30.
        {"video", "framerate", R"({"min":15,"max":[null,30],"aboveInput":2})"},
        {"video", "maxQp", R"({"min":12,"max":[51,51]})"},
        {"protocol", "tsPort", R"({"min":1,"max":[65535,65535]})"},
        // Per overlay: the text overlay inside 1920 x 1080, the clock inside 8192 x 8192.
        {"osd", "x", R"({"min":0,"max":[1920,8192]})"},
        {"osd", "fontSize", R"({"min":1,"max":[7,7]})"},
        {"ftplog", "localtimezone", R"({"min":-12,"max":[11,11]})"},
        {"security", "rtspAuth", R"({"min":0,"max":[1,1]})"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(text(field(doc, row.document, row.key)), row.limit)
            << row.document << " " << row.key;
    }
    EXPECT_EQ(doc.member("audio"), nullptr) << "a document without limits is left out";
}

// Every key is one the document itself carries, so a page can look its fields up.
TEST(LimitsDocument, KeysAreThoseOfTheirDocuments) {
    const JsonDoc doc(limits());
    ASSERT_TRUE(doc.ok());
    const struct {
        const char* document;
        std::string reply;
    } documents[] = {
        {"video",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::VideoSettings{}, t);
             return t;
         }()},
        {"protocol",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::ProtocolSettings{}, t);
             return t;
         }()},
        {"osd",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::OsdSettings{}, enc::OsdSettings{}, t);
             return t;
         }()},
        {"ftplog",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::FtpSettings{}, t);
             return t;
         }()},
        {"ircutConf",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::IrcutSettings{}, t);
             return t;
         }()},
        {"security",
         [] {
             std::string t;
             enc::JsonCast::toJson(enc::SecuritySettings{}, t);
             return t;
         }()},
    };
    int listed = 0;
    for (const cJSON* document = doc.root()->child; document != nullptr;
         document = document->next) {
        ++listed;
        const auto* known = std::find_if(
            std::begin(documents), std::end(documents),
            [&](const auto& d) { return document->string == std::string(d.document); });
        ASSERT_NE(known, std::end(documents)) << document->string;
        for (const cJSON* key = document->child; key != nullptr; key = key->next) {
            EXPECT_NE(known->reply.find('"' + std::string(key->string) + '"'), std::string::npos)
                << document->string << " " << key->string;
        }
    }
    EXPECT_EQ(listed, 6);
}

TEST(LimitsDocument, ReadOnly) {
    ApiResult result = kApiOk;
    limits("POST", &result);
    EXPECT_EQ(result, kApiWrongMethod);
    limits("GET", &result);
    EXPECT_EQ(result, kApiOk);
}

}  // namespace
