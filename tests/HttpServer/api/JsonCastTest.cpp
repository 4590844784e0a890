#include <gtest/gtest.h>

#include "JsonCast.h"

namespace {

using enc::JsonCast;

template <class R>
std::string encoded(const R& record) {
    std::string text = "old";
    JsonCast::toJson(record, text);
    return text;
}

// The exact bytes of a document; a document the device also reads must read back what it
// printed, so the keys of both directions agree.
template <class R>
void expectDocument(const R& record, const std::string& text, bool readsBack = true) {
    EXPECT_EQ(encoded(record), text);
    if (readsBack && enc::documentOf<R>().decode != nullptr) {
        R back;
        JsonCast::fromJson(back, text);
        EXPECT_EQ(encoded(back), text) << "read back";
    }
}

TEST(JsonCast, EveryDocumentHasItsExactBytesAndReadsBack) {
    expectDocument(enc::InputStatus{"HDMI", "1920x1080P60", "(16 bits PCM) 48K"},
                   R"({"type":"HDMI", "video":"1920x1080P60", "audio":"(16 bits PCM) 48K"})");
    expectDocument(
        enc::StreamStatus{"v", "au", "a", "t", "th", "f", "h"},
        R"({"addr":"a", "video":"v", "audio":"au", "ts":"t", "tsHtttp":"th", "flv":"f", "hls":"h"})");
    expectDocument(enc::StreamUrl{"rtsp://10.0.0.2/main", "http://10.0.0.2/main"},
                   R"({"http":"http://10.0.0.2/main", "rtsp":"rtsp://10.0.0.2/main"})");
    expectDocument(
        enc::StreamFormat{"udp://239.0.0.1:5000", "H.264", "AAC"},
        R"({"streamURL":"udp://239.0.0.1:5000", "videoFormat":"H.264", "audioFormat":"AAC"})");
    expectDocument(enc::NetworkSettings{0, 0, 1, "192.168.1.10", "255.255.255.0", "192.168.1.1",
                                        "8.8.8.8", "1.1.1.1", "00:11:22:33:44:55"},
                   R"({"connectionType":0, "dhcp":false, "dnsMode":1, "ip":"192.168.1.10", )"
                   R"("mask":"255.255.255.0", "gate":"192.168.1.1", "dnsFirst":"8.8.8.8",)"
                   R"("dnsSecond":"1.1.1.1", "mac":"00:11:22:33:44:55"})");
    expectDocument(enc::WifiSettings{1, "10.0.0.2", "255.0.0.0", "10.0.0.1", 2, "home", "secret"},
                   R"({"state":1, "ip":"10.0.0.2", "mask":"255.0.0.0", "gate":"10.0.0.1", )"
                   R"("encrypt":2, "essid":"home","key":"secret"})");
    expectDocument(enc::VideoSettings{"H.264", "high", 30, 1, 2, 60, "1920x1080", 4096, 10, 20, 40},
                   R"({"codec":"H.264", "profile":"high", "framerate":30, "bitmode":2, )"
                   R"("field":1, "gop":60, "resolution":"1920x1080","bitrate":4096, )"
                   R"("tolerate":10, "minQp":20, "maxQp":40})");
    expectDocument(enc::ChromaSettings{50, 51, 52, 53},
                   R"({"brightness":50, "contrast":51, "hue":52, "saturation":53})");
    expectDocument(enc::AudioSettings{48000, "AAC", 44100, 3, "G711", 1, 1, 2},
                   R"({"sampleRate":48000, "codec":"AAC", "resample":44100, "gain":3, )"
                   R"("onvifCodec":"G711", "inputMode":1, "checkRate":1, "onvifG":2})");
    expectDocument(enc::OutputSettings{"1080p", 1, 80, "HDMI", "1920x1080"},
                   R"({"videoRes":"1080p", "audioType":1, "audioVolume":80, "typeStr":"HDMI", )"
                   R"("resStr":"1920x1080"})");
    expectDocument(
        enc::Rs485Settings{"10.0.0.9", 9000, 9600, 1, 8},
        R"({"ip":"10.0.0.9", "port":9000, "baudrate":9600, "stopbits":1, "databits":8})");
    expectDocument(
        enc::LogoSettings{1, 10, 20, 80, "say \"hi\" \\ logo.png"},
        R"({"enable":1, "x":10, "y":20, "opacity":80, "name":"say \"hi\" \\ logo.png"})");
    expectDocument(enc::TimeSettings{2024, 5, 17, 5, 13, 4, 59},
                   R"({"year":2024, "month":5, "date":17, "day":5, "hour":13, "min":4, "sec":59})");
    expectDocument(enc::UpgradeServerSettings{"10.0.0.4", "1.2"},
                   R"({"serverIP":"10.0.0.4", "version":"1.2"})");
    expectDocument(enc::IrcutSettings{30, 1, "imei", "rm", "gm"},
                   R"({"ircutDir":1, "devIme":"imei", "rtmpManager":"rm", "gpsManager":"gm", )"
                   R"("gpsInterval":30})");
    expectDocument(enc::FtpSettings{"10.0.0.3", "u", "p", 24, 1, "pool.ntp.org", 8},
                   R"({"ftpserverIP":"10.0.0.3", "username":"u", "fpassword":"p", "timeMode":1, )"
                   R"("ftptime":24, "timeServer":"pool.ntp.org", "localtimezone":8})");
    // The device reads only six of the modem's keys.
    expectDocument(
        enc::LteStatus{1, "apn", 20, "10.64.0.2", "255.255.255.252", "10.64.0.1", "8986", 1},
        R"({"state":1, "server":"apn", "signal":20, "ip":"10.64.0.2", )"
        R"("mask":"255.255.255.252", "gate":"10.64.0.1", "iccid":"8986", "esimActive":1})",
        false);
    expectDocument(
        enc::SysInfo{"SN1", "1.0", "2.0", "1h", 50, 1, "never", "never", "10.1.1.1", "/p", 1},
        R"({"devSeq":"SN1", "softVersion":"1.0", "hardVersion":"2.0", "uptime":"1h", )"
        R"("serverIP":"10.1.1.1", "path":"/p", "place":1, "show":1, "opacity":50})");
    // Flags print as booleans; rtmpDir and rtmpNode are left out of the document.
    // clang-format off
    const enc::ProtocolSettings protocol{"/h", 1, 80, "/main", 0, 554, "239.0.0.1", 0, 5000,
                                         "10.0.0.5", 1, 20000, "/ts", 0, 8080, "/flv", 0, 8081,
                                         "/hls", 7, 8082, "1", "rtmp://x/live", 0, 1935, "dir",
                                         "node", "ru", "rp", 1, 0};
    // clang-format on
    expectDocument(
        protocol,
        R"({"httpName":"/h", "httpPort":80, "httpEnabled":true, "rtspName":"/main", )"
        R"("rtspPort":554, "rtspEnabled":false,"multicastAddr":"239.0.0.1", )"
        R"("multicastPort":5000, "multicastEnabled":false,"tsAddr":"10.0.0.5", )"
        R"("tsPort":20000, "tsEnabled":true,"tsHttpAddr":"/ts", "tsHttpPort":8080, )"
        R"("tsHttpEnabled":false,"flvAddr":"/flv", "flvPort":8081, "flvEnabled":false,)"
        R"("hlsAddr":"/hls", "hlsPort":8082, "hlsEnabled":true,"rtmpAddrMode":"1", )"
        R"("rtmpAddr":"rtmp://x/live", "rtmpPort":1935, "rtmpEnabled":false, )"
        R"("rtmpUser":"ru", "rtmpPassword":"rp","onvifEnabled":true, "iotEnabled":false})");
}

TEST(JsonCast, OverlaysAreAnArrayWithTextModeInTheFirstObjectOnly) {
    enc::OsdSettings a{1, 2, 3, 4, 0xFFFFFFFFu, 5, 0xFFFFFFu, "a\"b", 7};
    enc::OsdSettings b{8, 9, 10, 11, 12, 13, 14, "second", 99};
    std::string text;
    JsonCast::toJson(a, b, text);
    EXPECT_EQ(text,
              R"([{"x":1, "y":2, "fontSize":3, "opacity":4, "textColor":-1, "bkMode":5, )"
              R"("bkColor":16777215, "text":"a\"b", "textMode":7},{"x":8, "y":9, "fontSize":10, )"
              R"("opacity":11, "textColor":12, "bkMode":13, "bkColor":14, "text":"second"}])");

    enc::OsdSettings first;
    enc::OsdSettings second;
    second.x = 77;
    JsonCast::fromJson(first, second, R"([{"x":5, "text":"one", "textMode":2, "textColor":-1}])");
    EXPECT_EQ(first.x, 5);
    EXPECT_EQ(first.text, "one");
    EXPECT_EQ(first.textMode, 2);
    EXPECT_EQ(first.textColor, 0xFFFFFFFFu);
    EXPECT_EQ(second.x, 77) << "a missing element leaves its record";
    JsonCast::fromJson(first, second, R"([{}, {"x":6, "textMode":3, "bkColor":4294967295}])");
    EXPECT_EQ(first.x, 5);
    EXPECT_EQ(second.x, 6);
    EXPECT_EQ(second.textMode, 3);
    EXPECT_EQ(second.bkColor, 0xFFFFFFFFu);
    JsonCast::fromJson(first, second, R"({"x":9})");
    EXPECT_EQ(first.x, 5) << "an object is not the overlay array";
}

TEST(JsonCast, TextIsEscaped) {
    enc::StreamUrl url;
    url.http = "q\"b\\s/\b\f\n\r\t\x01\x1f\x7f";
    url.rtsp = "caf\xc3\xa9";  // UTF-8 passes unchanged
    EXPECT_EQ(encoded(url), R"({"http":"q\"b\\s/\b\f\n\r\t\u0001\u001f\u007f", "rtsp":"caf)"
                            "\xc3\xa9"
                            R"("})");
}

TEST(JsonCast, LongDocumentIsCutAt1023Characters) {
    enc::StreamUrl url;
    url.http = std::string(1020, 'x');
    url.rtsp = "rtsp";
    const std::string text = encoded(url);
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.substr(0, 10), R"({"http":"x)");
    url.http = std::string(1023 - 26, 'y');  // exactly 1023 characters in all
    EXPECT_EQ(encoded(url).size(), 1023u);
    EXPECT_EQ(encoded(url).back(), '}');
}

TEST(JsonCast, DhcpIsPrintedAsBooleanButReadAsNumberOnly) {
    enc::NetworkSettings n;
    n.dhcp = 1;
    EXPECT_NE(encoded(n).find(R"("dhcp":true,)"), std::string::npos);
    JsonCast::fromJson(n, R"({"dhcp":true})");
    EXPECT_EQ(n.dhcp, 1) << "true does not begin with a number: unchanged";
    n.dhcp = 0;
    JsonCast::fromJson(n, R"({"dhcp":true, "ip":"10.0.0.7", "connectionType":"2"})");
    EXPECT_EQ(n.dhcp, 0);
    EXPECT_EQ(n.ip, "10.0.0.7");
    EXPECT_EQ(n.connectionType, 2);
}

TEST(JsonCast, BooleanIsOneOnlyForTrue) {
    const std::pair<const char*, int> cases[] = {
        {R"({"httpEnabled":true})", 1},  {R"({"httpEnabled":1})", 0},
        {R"({"httpEnabled":false})", 0}, {R"({"httpEnabled":"true"})", 0},
        {R"({"httpEnabled":null})", 0},  {R"({"httpPort":81})", 5},  // missing: unchanged
    };
    for (const auto& [body, expected] : cases) {
        enc::ProtocolSettings p;
        p.httpEnabled = 5;
        JsonCast::fromJson(p, body);
        EXPECT_EQ(p.httpEnabled, expected) << body;
    }
}

TEST(JsonCast, IntegerRules) {
    const std::pair<const char*, int> cases[] = {
        {R"({"year":2024})", 2024},
        {R"({"year":"5"})", 5},
        {R"({"year":" 7x"})", 7},
        {R"({"year":-3.7})", -3},
        {R"({"year":"abc"})", 11},
        {R"({"year":true})", 11},
        {R"({"year":null})", 11},
        {R"({"year":[1]})", 11},
        {R"({"year":""})", 11},
        {R"({"year":1e12})", 2147483647},
        {R"({"year":"-99999999999"})", -2147483647 - 1},
    };
    for (const auto& [body, expected] : cases) {
        enc::TimeSettings t;
        t.year = 11;
        t.month = 12;
        JsonCast::fromJson(t, body);
        EXPECT_EQ(t.year, expected) << body;
        EXPECT_EQ(t.month, 12) << body;
    }
}

TEST(JsonCast, TextGivesDecodedStringOrLiteralJson) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"serverIP":"a\"b\\c\n"})", "a\"b\\c\n"},
        {R"({"serverIP":"caf\u00e9"})", "caf\xc3\xa9"},
        {R"({"serverIP":5})", "5"},
        {R"({"serverIP":null})", "null"},
        {R"({"serverIP":true})", "true"},
        {R"({"serverIP":{"a":[1, 2]}})", R"({"a":[1,2]})"},
    };
    for (const auto& [body, expected] : cases) {
        enc::UpgradeServerSettings u;
        JsonCast::fromJson(u, body);
        EXPECT_EQ(u.serverIP, expected) << body;
    }
}

TEST(JsonCast, BodyThatIsNotOneObjectChangesNothing) {
    for (const char* body : {"", "not json", "{\"year\":", "[{\"year\":1}]", "5", "null"}) {
        enc::TimeSettings t;
        t.year = 11;
        EXPECT_TRUE(JsonCast::fromJson(t, body));
        EXPECT_EQ(t.year, 11) << body;
    }
    // The body is a byte range without terminator: what follows it is not read.
    const std::string buffer = R"({"year":2024}{"year":1999})";
    enc::TimeSettings t;
    JsonCast::fromJson(t, std::string_view(buffer).substr(0, 13));
    EXPECT_EQ(t.year, 2024);
}

TEST(JsonCast, DocumentsReadOnlyTheirOwnKeys) {
    enc::LteStatus l;
    JsonCast::fromJson(l, R"({"state":2, "server":"apn", "signal":9, "ip":"1", "mask":"2",
                             "gate":"3", "iccid":"x", "esimActive":1})");
    EXPECT_EQ(l.state, 2);
    EXPECT_EQ(l.server, "apn");
    EXPECT_EQ(l.signal, 9);
    EXPECT_EQ(l.gate, "3");
    EXPECT_EQ(l.iccid, "");
    EXPECT_EQ(l.esimActive, 0);
    enc::ProtocolSettings p;
    JsonCast::fromJson(p, R"({"rtmpDir":"d", "rtmpNode":"n", "rtmpUser":"u"})");
    EXPECT_EQ(p.rtmpDir, "");
    EXPECT_EQ(p.rtmpNode, "");
    EXPECT_EQ(p.rtmpUser, "u");
}

}  // namespace
