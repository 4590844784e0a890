#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace comn {

/// Whole-file INI model that keeps comments and the order of sections and keys, so a file
/// edited by hand survives a load/save cycle.
///
/// Names and keys compare exactly (case-sensitive, untrimmed). Duplicate sections and keys
/// are kept; every lookup finds the first match. Not thread-safe: one owner at a time.
///
/// Typed reads follow formatted stream input: leading blanks skipped, "12abc" reads 12,
/// text that is not a number reads 0, out-of-range numbers clamp; a string target gets the
/// first blank-delimited word. An empty or all-blank value leaves the target unchanged.
/// They return true whenever the key exists.
class IniFile {
public:
    struct IniEntry {
        std::string key;
        std::string value;
        /// Comment lines that stood before the entry, each ending in "\n".
        std::string comment;
    };

    struct IniSection {
        /// Empty for the keys that stand before the first header.
        std::string name;
        std::vector<IniEntry> entries;

        IniEntry* findEntry(const std::string& key);
        const IniEntry* findEntry(const std::string& key) const;
        /// The entry of that key, appended when missing.
        IniEntry& getEntry(const std::string& key);
        void setValue(const std::string& key, const std::string& value);
        bool getValue(const std::string& key, std::string& out) const;
        bool getValue(const std::string& key, int& out) const;
        bool getValue(const std::string& key, unsigned int& out) const;
        bool getValue(const std::string& key, double& out) const;
        bool hasEntry(const std::string& key) const { return findEntry(key) != nullptr; }
        bool removeEntry(const std::string& key);
        void removeComments();
        void clear();
        /// Unnamed and without entries.
        bool isEmpty() const { return name.empty() && entries.empty(); }
    };

    IniFile() = default;
    virtual ~IniFile() = default;

    /// Replaces the model by the file's content. False when the file cannot be opened;
    /// the model is then unchanged. With trimTrailingCr, a carriage return at the end of an
    /// entry line is dropped from its value (files with CR-LF line ends).
    bool load(const std::string& path, bool trimTrailingCr = false);

    /// Writes the model to the file atomically: a temporary file in the same directory is
    /// written, flushed and synced, then renamed over the target, and the directory is
    /// synced. False on any error; the previous file then stays intact. The file keeps the
    /// permissions of the one it replaces; a new file gets 0644 less the umask.
    bool save(const std::string& path) const;
    /// The same, but the file always gets exactly this mode (0600 for files holding
    /// secrets), also when the one it replaces was more open. The temporary file is created
    /// 0600, so the content is never readable by others on the way.
    bool save(const std::string& path, unsigned mode) const;

    /// The text save() writes.
    std::string toText() const;

    void clear();

    size_t getSectionCount() const { return m_sections.elements.size(); }
    /// Asserts idx < getSectionCount().
    IniSection& getSection(size_t idx);
    bool hasSection(const std::string& section) const;
    /// Appends an empty section; false (nothing added) when one of that name exists.
    bool addSection(const std::string& section);
    bool removeSection(const std::string& section);
    IniSection& getOrAddSection(const std::string& section);

    size_t getEntryCount(const std::string& section) const;
    bool hasEntry(const std::string& section, const std::string& key) const;
    bool removeEntry(const std::string& section, const std::string& key);

    /// The value, or def when the section or key is missing. A carriage return ending the
    /// stored value (a CR-LF file) is not part of it.
    std::string getValue(const std::string& section, const std::string& key,
                         const std::string& def) const;
    std::string getValue(const std::string& section, const std::string& key,
                         const char* def) const;
    /// Typed reads (see the class comment).
    bool getValue(const std::string& section, const std::string& key, int& out) const;
    bool getValue(const std::string& section, const std::string& key, unsigned int& out) const;
    bool getValue(const std::string& section, const std::string& key, std::string& out) const;

    /// Creates the section and entry when missing (appended at the end); the entry's comment
    /// stays. A CR or LF in the section, key or value becomes a blank, so no value can
    /// inject lines into the file.
    void setValue(const std::string& section, const std::string& key, const std::string& value);
    void setValue(const std::string& section, const std::string& key, const char* value);
    void setValue(const std::string& section, const std::string& key, int value);
    void setValue(const std::string& section, const std::string& key, unsigned int value);

    std::string getComment(const std::string& section, const std::string& key) const;
    /// The comment is written back as is: whole lines, each ending in "\n".
    void setComment(const std::string& section, const std::string& key,
                    const std::string& comment);
    void removeComments(const std::string& section);
    void removeAllComments();

    const std::string& getHeaderComment() const { return m_headerComment; }
    void setHeaderComment(const std::string& text) { m_headerComment = text; }

private:
    struct SectionList {
        std::vector<IniSection> elements;
    };

    IniSection* findSection(const std::string& section);
    const IniSection* findSection(const std::string& section) const;

    SectionList m_sections;
    std::string m_headerComment;
};

}  // namespace comn
