// The descriptors as a whole: two documents that share a section (network, server, input,
// osd_0) must not both claim a key, or a save of one would overwrite the other's value.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "EncoderConfigFile.h"
#include "SettingsDocument.h"

namespace {

using namespace enc;

using Claims = std::map<std::string, std::set<std::string>>;  // section -> keys

template <class R>
void claim(Claims& claims, const std::string& section, const char* suffix) {
    for (const DocumentField<R>& f : documentOf<R>().fields) {
        if (f.iniKey != nullptr) {
            const std::string key = std::string(f.iniKey) + suffix;
            EXPECT_TRUE(claims[section].insert(key).second) << "[" << section << "] " << key;
        }
    }
}

template <class R>
void claimDocument(Claims& claims) {
    const DocumentSection& s = documentOf<R>().section;
    ASSERT_NE(s.name, nullptr);
    for (int i = 0; i < (s.perStream || s.keySuffix[1][0] != '\0' ? 2 : 1); ++i) {
        claim<R>(claims, sectionOf(s, i), s.keySuffix[i]);
    }
}

TEST(SettingsDocuments, NoTwoDocumentsClaimTheSameKey) {
    Claims claims;
    claimDocument<EncoderConfigFile>(claims);
    claimDocument<InputStatus>(claims);
    claimDocument<OutputSettings>(claims);
    claimDocument<StreamStatus>(claims);
    claimDocument<StreamUrl>(claims);
    claimDocument<NetworkSettings>(claims);
    claimDocument<Rs485Settings>(claims);
    claimDocument<WifiSettings>(claims);
    claimDocument<VideoSettings>(claims);
    claimDocument<ProtocolSettings>(claims);
    for (int i : {0, 1}) {
        for (const char* overlay : {"0", "1"}) {
            claim<OsdSettings>(claims, sectionOf(documentOf<OsdSettings>().section, i) + overlay,
                               "");
        }
    }
    claimDocument<LogoSettings>(claims);
    claimDocument<ChromaSettings>(claims);
    claimDocument<AudioSettings>(claims);
    claimDocument<UpgradeServerSettings>(claims);
    claimDocument<FtpSettings>(claims);
    claimDocument<SysInfo>(claims);
    claimDocument<SecuritySettings>(claims);
    claimDocument<SrtSettings>(claims);
    EXPECT_EQ(claims["network"].count("brightness_s"), 1u);
}

}  // namespace
