#pragma once
// Stores the file parts of one multipart upload in the upload directory as they arrive.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MultipartParser.h"

namespace http {

/// A MultipartParser listener that writes each part with a file name to a temporary file in
/// the upload directory; commit() then gives the files their names. A refused or broken
/// upload therefore never leaves a partial file under a real name, and never replaces an
/// earlier file of the same name. Parts without a filename parameter (plain form fields)
/// are skipped. One object serves one request, on one thread.
class UploadReceiver : public MultipartParser::Listener {
public:
    enum class Failure {
        None,
        BadName,      ///< a file name that reduces to "", "." or "..", or holds a control byte
        TooLarge,     ///< a file larger than the limit
        OpenFailed,   ///< the temporary file could not be created
        WriteFailed,  ///< writing, closing or renaming failed
    };

    struct File {
        std::string field;  ///< the form field name of the part
        std::string path;   ///< directory + "/" + stored name
        long long size = 0;
        std::string temp;  ///< the temporary file until commit(), then ""
    };

    /// directory as configured (for "/var/" files are stored as "/var//name").
    UploadReceiver(std::string directory, long long maxFileBytes);
    /// Removes every temporary file that was not committed.
    ~UploadReceiver() override;
    UploadReceiver(const UploadReceiver&) = delete;
    UploadReceiver& operator=(const UploadReceiver&) = delete;

    bool onPartBegin(const MultipartPart& part) override;
    bool onPartData(const char* data, size_t size) override;
    bool onPartEnd() override;

    Failure failure() const { return m_failure; }
    /// The complete file parts, in order.
    const std::vector<File>& files() const { return m_files; }

    /// Renames every received file to its path. False (failure WriteFailed) when a rename
    /// fails; the files not yet renamed are then removed by the destructor.
    bool commit();

    /// The name a file part is stored under: the last component of the name the client sent
    /// ('/' and '\\' both separate components); nothing for "", "." and "..", and for a
    /// name with a control byte (0x00-0x1f, 0x7f) anywhere.
    static std::optional<std::string> storedName(std::string_view fileName);

private:
    bool refuse(Failure failure);
    void closeFile();

    std::string m_dir;
    long long m_maxFileBytes;
    std::vector<File> m_files;
    int m_fd = -1;  // the open temporary file of the current part, or -1
    Failure m_failure = Failure::None;
};

}  // namespace http
