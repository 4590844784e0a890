#pragma once
// The web credentials: a one-line digest password file "user:HttpServer:<HA1>", where HA1
// is the MD5 hex digest of "user:HttpServer:password" (the realm is "HttpServer").

#include <optional>
#include <string>

namespace http {

class PasswordFile {
public:
    virtual ~PasswordFile() = default;

    static constexpr const char* kRealm = "HttpServer";
    /// The credentials a device has until the user changes them.
    static constexpr const char* kDefaultUser = "admin";
    static constexpr const char* kDefaultPassword = "740163";

    /// What the file holds: the user and the HA1 of its password.
    struct Entry {
        std::string user;
        std::string ha1;  ///< 32 lowercase hex digits
    };

    /// The file's one line (no line end).
    static std::string line(const std::string& user, const std::string& password);

    /// Whether a user name may be stored: 1-32 letters, digits and "-_.@" (anything else
    /// could break the line or the Authorization header that carries it).
    static bool validUser(const std::string& user);
    /// Whether a password may be stored: 6-64 printable ASCII characters without ':' and
    /// '\' (browsers differ in how they send those two).
    static bool validPassword(const std::string& password);

    /// Replaces the file with the line for these credentials. The new file is written next
    /// to it (mode 0600) and renamed over it, so a reader (or a power cut) never sees half a
    /// file. False when it could not be written.
    static bool write(const std::string& path, const std::string& user,
                      const std::string& password);

    /// The file's entry; nothing when it is missing, unreadable or not one valid line.
    static std::optional<Entry> read(const std::string& path);

    static bool exists(const std::string& path);
};

}  // namespace http
