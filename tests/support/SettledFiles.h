#pragma once
// For tests of code that trusts a file's stamp (comn::FileStamp) only once the file has
// settled; the including test links comn.

#include <chrono>
#include <string>
#include <vector>

#include "FileStamp.h"
#include "TestSupport.h"

namespace testsupport {

/// Waits until every one of paths is old enough for its stamp to hold; one wait serves
/// every case of a test. False when that did not happen within 10 s.
inline bool waitSettled(const std::vector<std::string>& paths) {
    return waitFor(
        [&] {
            for (const std::string& p : paths) {
                comn::FileStamp stamp;
                stamp.take(p);
                if (!stamp.unchanged(p)) {
                    return false;
                }
            }
            return true;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(50));
}

}  // namespace testsupport
