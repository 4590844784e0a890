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

// ---- encoding: the exact bytes of every document ----

TEST(JsonCastEncode, StatusDocuments) {
    enc::InputStatus in{"HDMI", "1920x1080P60", "(16 bits PCM) 48K"};
    EXPECT_EQ(encoded(in),
              R"({"type":"HDMI", "video":"1920x1080P60", "audio":"(16 bits PCM) 48K"})");

    enc::StreamStatus st;
    st.addr = "a";
    st.video = "v";
    st.audio = "au";
    st.ts = "t";
    st.tsHttp = "th";
    st.flv = "f";
    st.hls = "h";
    EXPECT_EQ(
        encoded(st),
        R"({"addr":"a", "video":"v", "audio":"au", "ts":"t", "tsHtttp":"th", "flv":"f", "hls":"h"})");

    enc::StreamUrl url;
    url.http = "http://10.0.0.2/main";
    url.rtsp = "rtsp://10.0.0.2/main";
    EXPECT_EQ(encoded(url), R"({"http":"http://10.0.0.2/main", "rtsp":"rtsp://10.0.0.2/main"})");

    enc::StreamFormat sf{"udp://239.0.0.1:5000", "H.264", "AAC"};
    EXPECT_EQ(
        encoded(sf),
        R"({"streamURL":"udp://239.0.0.1:5000", "videoFormat":"H.264", "audioFormat":"AAC"})");
}

TEST(JsonCastEncode, NetworkPrintsDhcpAsBoolean) {
    enc::NetworkSettings n;
    n.connectionType = 0;
    n.dhcp = 1;
    n.dnsMode = 1;
    n.ip = "192.168.1.10";
    n.mask = "255.255.255.0";
    n.gate = "192.168.1.1";
    n.dnsFirst = "8.8.8.8";
    n.dnsSecond = "1.1.1.1";
    n.mac = "00:11:22:33:44:55";
    EXPECT_EQ(encoded(n), R"({"connectionType":0, "dhcp":true, "dnsMode":1, "ip":"192.168.1.10", )"
                          R"("mask":"255.255.255.0", "gate":"192.168.1.1", "dnsFirst":"8.8.8.8",)"
                          R"("dnsSecond":"1.1.1.1", "mac":"00:11:22:33:44:55"})");
    n.dhcp = 0;
    EXPECT_NE(encoded(n).find(R"("dhcp":false,)"), std::string::npos);
}

TEST(JsonCastEncode, SettingsDocuments) {
    enc::WifiSettings w{1, "10.0.0.2", "255.0.0.0", "10.0.0.1", 2, "home", "secret"};
    EXPECT_EQ(encoded(w), R"({"state":1, "ip":"10.0.0.2", "mask":"255.0.0.0", "gate":"10.0.0.1", )"
                          R"("encrypt":2, "essid":"home","key":"secret"})");

    enc::VideoSettings v;
    v.codec = "H.264";
    v.profile = "high";
    v.framerate = 30;
    v.field = 1;
    v.bitmode = 0;
    v.gop = 60;
    v.resolution = "1920x1080";
    v.bitrate = 4096;
    v.tolerate = 10;
    EXPECT_EQ(encoded(v),
              R"({"codec":"H.264", "profile":"high", "framerate":30, "bitmode":0, "field":1, )"
              R"("gop":60, "resolution":"1920x1080","bitrate":4096, "tolerate":10, "minQp":15, )"
              R"("maxQp":25})");

    enc::ChromaSettings c{50, 51, 52, 53};
    EXPECT_EQ(encoded(c), R"({"brightness":50, "contrast":51, "hue":52, "saturation":53})");

    enc::AudioSettings a{48000, "AAC", 0, 3, "G711", 1, 1, 2};
    EXPECT_EQ(encoded(a), R"({"sampleRate":48000, "codec":"AAC", "resample":0, "gain":3, )"
                          R"("onvifCodec":"G711", "inputMode":1, "checkRate":1, "onvifG":2})");

    enc::OutputSettings o{"1080p", 1, 80, "HDMI", "1920x1080"};
    EXPECT_EQ(encoded(o),
              R"({"videoRes":"1080p", "audioType":1, "audioVolume":80, "typeStr":"HDMI", )"
              R"("resStr":"1920x1080"})");

    enc::Rs485Settings r{"10.0.0.9", 9000, 9600, 1, 8};
    EXPECT_EQ(encoded(r),
              R"({"ip":"10.0.0.9", "port":9000, "baudrate":9600, "stopbits":1, "databits":8})");

    enc::LogoSettings l{1, 10, 20, 80, "logo.png"};
    EXPECT_EQ(encoded(l), R"({"enable":1, "x":10, "y":20, "opacity":80, "name":"logo.png"})");

    enc::TimeSettings t{2024, 5, 17, 5, 13, 4, 59};
    EXPECT_EQ(encoded(t),
              R"({"year":2024, "month":5, "date":17, "day":5, "hour":13, "min":4, "sec":59})");

    enc::UpgradeServerSettings u{"10.0.0.4", "1.2"};
    EXPECT_EQ(encoded(u), R"({"serverIP":"10.0.0.4", "version":"1.2"})");

    enc::IrcutSettings i;
    i.ircutDir = 1;
    i.devIme = "imei";
    i.rtmpManager = "rm";
    i.gpsManager = "gm";
    i.gpsInterval = 30;
    EXPECT_EQ(encoded(i),
              R"({"ircutDir":1, "devIme":"imei", "rtmpManager":"rm", "gpsManager":"gm", )"
              R"("gpsInterval":30})");
}

TEST(JsonCastEncode, FtpLteAndSystemInfo) {
    enc::FtpSettings f;
    f.ftpserverIP = "10.0.0.3";
    f.username = "u";
    f.fpassword = "p";
    f.timeMode = 1;
    f.ftptime = 24;
    f.timeServer = "pool.ntp.org";
    f.localtimezone = 8;
    EXPECT_EQ(encoded(f),
              R"({"ftpserverIP":"10.0.0.3", "username":"u", "fpassword":"p", "timeMode":1, )"
              R"("ftptime":24, "timeServer":"pool.ntp.org", "localtimezone":8})");

    enc::LteStatus lte{1, "apn", 20, "10.64.0.2", "255.255.255.252", "10.64.0.1", "8986", 1};
    EXPECT_EQ(encoded(lte),
              R"({"state":1, "server":"apn", "signal":20, "ip":"10.64.0.2", )"
              R"("mask":"255.255.255.252", "gate":"10.64.0.1", "iccid":"8986", "esimActive":1})");

    enc::SysInfo s;
    s.devSeq = "SN1";
    s.softVersion = "1.0";
    s.hardVersion = "2.0";
    s.uptime = "1h";
    s.serverIP = "10.1.1.1";
    s.path = "/p";
    s.place = 1;
    s.show = 1;
    s.opacity = 50;
    s.add_pict_1 = "never";  // not part of the document
    EXPECT_EQ(encoded(s),
              R"({"devSeq":"SN1", "softVersion":"1.0", "hardVersion":"2.0", "uptime":"1h", )"
              R"("serverIP":"10.1.1.1", "path":"/p", "place":1, "show":1, "opacity":50})");
}

TEST(JsonCastEncode, ProtocolPrintsFlagsAsBooleansWithoutRtmpDirAndNode) {
    enc::ProtocolSettings p;
    p.httpName = "/h";
    p.httpPort = 80;
    p.httpEnabled = 1;
    p.rtspName = "/main";
    p.rtspPort = 554;
    p.rtspEnabled = 0;
    p.multicastAddr = "239.0.0.1";
    p.multicastPort = 5000;
    p.tsAddr = "10.0.0.5";
    p.tsPort = 20000;
    p.tsEnabled = 1;
    p.tsHttpAddr = "/ts";
    p.tsHttpPort = 8080;
    p.flvAddr = "/flv";
    p.flvPort = 8081;
    p.hlsAddr = "/hls";
    p.hlsPort = 8082;
    p.hlsEnabled = 7;
    p.rtmpAddrMode = "1";
    p.rtmpAddr = "rtmp://x/live";
    p.rtmpPort = 1935;
    p.rtmpUser = "ru";
    p.rtmpPassword = "rp";
    p.rtmpDir = "dir";
    p.rtmpNode = "node";
    p.onvifEnabled = 1;
    EXPECT_EQ(encoded(p),
              R"({"httpName":"/h", "httpPort":80, "httpEnabled":true, "rtspName":"/main", )"
              R"("rtspPort":554, "rtspEnabled":false,"multicastAddr":"239.0.0.1", )"
              R"("multicastPort":5000, "multicastEnabled":false,"tsAddr":"10.0.0.5", )"
              R"("tsPort":20000, "tsEnabled":true,"tsHttpAddr":"/ts", "tsHttpPort":8080, )"
              R"("tsHttpEnabled":false,"flvAddr":"/flv", "flvPort":8081, "flvEnabled":false,)"
              R"("hlsAddr":"/hls", "hlsPort":8082, "hlsEnabled":true,"rtmpAddrMode":"1", )"
              R"("rtmpAddr":"rtmp://x/live", "rtmpPort":1935, "rtmpEnabled":false, )"
              R"("rtmpUser":"ru", "rtmpPassword":"rp","onvifEnabled":true, "iotEnabled":false})");
}

TEST(JsonCastEncode, OverlaysAreAnArrayWithTextModeInTheFirstObjectOnly) {
    enc::OsdSettings a{1, 2, 3, 4, 0xFFFFFFFFu, 5, 0xFFFFFFu, "a\"b", 7};
    enc::OsdSettings b{8, 9, 10, 11, 12, 13, 14, "second", 99};
    std::string text;
    JsonCast::toJson(a, b, text);
    EXPECT_EQ(text,
              R"([{"x":1, "y":2, "fontSize":3, "opacity":4, "textColor":-1, "bkMode":5, )"
              R"("bkColor":16777215, "text":"a\"b", "textMode":7},{"x":8, "y":9, "fontSize":10, )"
              R"("opacity":11, "textColor":12, "bkMode":13, "bkColor":14, "text":"second"}])");
}

TEST(JsonCastEncode, TextIsEscaped) {
    enc::StreamUrl url;
    url.http = "q\"b\\s/\b\f\n\r\t\x01\x1f\x7f";
    url.rtsp = "caf\xc3\xa9";  // UTF-8 passes unchanged
    EXPECT_EQ(encoded(url), R"({"http":"q\"b\\s/\b\f\n\r\t\u0001\u001f\u007f", "rtsp":"caf)"
                            "\xc3\xa9"
                            R"("})");
}

TEST(JsonCastEncode, LongDocumentIsCutAt1023Characters) {
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

// ---- decoding ----

TEST(JsonCastDecode, NetworkReadsDhcpAsNumberOnly) {
    enc::NetworkSettings n;
    JsonCast::fromJson(n, R"({"dhcp":1, "ip":"10.0.0.7", "connectionType":"2"})");
    EXPECT_EQ(n.dhcp, 1);
    EXPECT_EQ(n.ip, "10.0.0.7");
    EXPECT_EQ(n.connectionType, 2);
    JsonCast::fromJson(n, R"({"dhcp":true})");
    EXPECT_EQ(n.dhcp, 1) << "true does not begin with a number: unchanged";
    n.dhcp = 0;
    JsonCast::fromJson(n, R"({"dhcp":true})");
    EXPECT_EQ(n.dhcp, 0);
}

TEST(JsonCastDecode, BooleanIsOneOnlyForTrue) {
    const std::pair<const char*, int> cases[] = {
        {R"({"httpEnabled":true})", 1},  {R"({"httpEnabled":1})", 0},
        {R"({"httpEnabled":false})", 0}, {R"({"httpEnabled":"true"})", 0},
        {R"({"httpEnabled":null})", 0},
    };
    for (const auto& [body, expected] : cases) {
        enc::ProtocolSettings p;
        p.httpEnabled = 5;
        JsonCast::fromJson(p, body);
        EXPECT_EQ(p.httpEnabled, expected) << body;
    }
    enc::ProtocolSettings p;
    p.httpEnabled = 5;
    JsonCast::fromJson(p, R"({"httpPort":81})");
    EXPECT_EQ(p.httpEnabled, 5) << "a missing key leaves the field";
    EXPECT_EQ(p.httpPort, 81);
}

TEST(JsonCastDecode, IntegerRules) {
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

TEST(JsonCastDecode, TextGivesDecodedStringOrLiteralJson) {
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

TEST(JsonCastDecode, QuotedTextSurvivesSaveRoundTrips) {
    enc::LogoSettings logo;
    logo.name = "say \"hi\" \\ bye";
    std::string text = encoded(logo);
    for (int round = 0; round < 3; ++round) {
        enc::LogoSettings back;
        JsonCast::fromJson(back, text);
        EXPECT_EQ(back.name, logo.name);
        text = encoded(back);
    }
}

TEST(JsonCastDecode, BodyThatIsNotAnObjectChangesNothing) {
    for (const char* body : {"", "not json", "{\"year\":", "[{\"year\":1}]", "5", "null"}) {
        enc::TimeSettings t;
        t.year = 11;
        EXPECT_TRUE(JsonCast::fromJson(t, body));
        EXPECT_EQ(t.year, 11) << body;
    }
}

TEST(JsonCastDecode, BodyIsAByteRangeWithoutTerminator) {
    const std::string buffer = R"({"year":2024}{"year":1999})";
    enc::TimeSettings t;
    JsonCast::fromJson(t, std::string_view(buffer).substr(0, 13));
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 0);
}

TEST(JsonCastDecode, LteReadsOnlyItsSixKeys) {
    enc::LteStatus l;
    JsonCast::fromJson(l, R"({"state":2, "server":"apn", "signal":9, "ip":"1", "mask":"2",
                             "gate":"3", "iccid":"x", "esimActive":1})");
    EXPECT_EQ(l.state, 2);
    EXPECT_EQ(l.server, "apn");
    EXPECT_EQ(l.signal, 9);
    EXPECT_EQ(l.gate, "3");
    EXPECT_EQ(l.iccid, "");
    EXPECT_EQ(l.esimActive, 0);
}

TEST(JsonCastDecode, ProtocolIgnoresRtmpDirAndNode) {
    enc::ProtocolSettings p;
    JsonCast::fromJson(p, R"({"rtmpDir":"d", "rtmpNode":"n", "rtmpUser":"u"})");
    EXPECT_EQ(p.rtmpDir, "");
    EXPECT_EQ(p.rtmpNode, "");
    EXPECT_EQ(p.rtmpUser, "u");
}

TEST(JsonCastDecode, OverlayArrayFillsRecordsByElement) {
    enc::OsdSettings a;
    enc::OsdSettings b;
    b.x = 77;
    JsonCast::fromJson(a, b, R"([{"x":5, "text":"one", "textMode":2, "textColor":-1}])");
    EXPECT_EQ(a.x, 5);
    EXPECT_EQ(a.text, "one");
    EXPECT_EQ(a.textMode, 2);
    EXPECT_EQ(a.textColor, 0xFFFFFFFFu);
    EXPECT_EQ(b.x, 77) << "a missing element leaves its record";

    JsonCast::fromJson(a, b, R"([{}, {"x":6, "textMode":3, "bkColor":4294967295}])");
    EXPECT_EQ(a.x, 5);
    EXPECT_EQ(b.x, 6);
    EXPECT_EQ(b.textMode, 3);
    EXPECT_EQ(b.bkColor, 0xFFFFFFFFu);

    JsonCast::fromJson(a, b, R"({"x":9})");
    EXPECT_EQ(a.x, 5) << "an object is not the overlay array";
}

// Every decodable document reads back what it prints (keys of both formats agree).
template <class R>
void expectRoundTrip(const R& record) {
    const std::string text = encoded(record);
    R back;
    JsonCast::fromJson(back, text);
    EXPECT_EQ(encoded(back), text);
}

TEST(JsonCastDecode, EveryDocumentReadsBackItsEncoding) {
    expectRoundTrip(enc::NetworkSettings{2, 0, 1, "i", "m", "g", "d1", "d2", "mac"});
    expectRoundTrip(enc::WifiSettings{1, "i", "m", "g", 3, "e", "k"});
    expectRoundTrip(enc::VideoSettings{"c", "p", 25, 1, 2, 50, "r", 800, 9, 20, 40});
    expectRoundTrip(enc::ChromaSettings{1, 2, 3, 4});
    expectRoundTrip(enc::AudioSettings{8000, "c", 1, 2, "o", 3, 4, 5});
    expectRoundTrip(enc::OutputSettings{"v", 1, 2, "t", "r"});
    expectRoundTrip(enc::Rs485Settings{"i", 1, 2, 3, 4});
    expectRoundTrip(enc::LogoSettings{1, 2, 3, 4, "n"});
    expectRoundTrip(enc::TimeSettings{1, 2, 3, 4, 5, 6, 7});
    expectRoundTrip(enc::FtpSettings{"f", "u", "p", 1, 2, "t", 3});
    expectRoundTrip(enc::UpgradeServerSettings{"s", "v"});
    expectRoundTrip(enc::IrcutSettings{1, 2, "d", "r", "g"});
    enc::SysInfo s;
    s.devSeq = "d";
    s.serverIP = "s";
    s.place = 3;
    s.opacity = 4;
    expectRoundTrip(s);
    enc::ProtocolSettings p;
    p.httpEnabled = 1;
    p.tsHttpEnabled = 1;
    p.rtmpPassword = "pw";
    p.hlsPort = 8;
    expectRoundTrip(p);
}

}  // namespace
