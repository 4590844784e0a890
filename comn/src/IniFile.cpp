#include "IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace comn {
namespace {

enum class LineClass { Blank, Comment, Section, Entry, Other };

LineClass classify(const std::string& line) {
    if (line.empty()) {
        return LineClass::Blank;
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos) {
        if (line[first] == '#' || line[first] == ';') {
            return LineClass::Comment;
        }
        if (line[first] == '[') {
            return LineClass::Section;
        }
    }
    return line.find('=') != std::string::npos ? LineClass::Entry : LineClass::Other;
}

std::string sectionName(const std::string& line) {
    const size_t open = line.find('[');
    const size_t close = line.rfind(']');
    if (close == std::string::npos || close < open) {
        return line.substr(open + 1);  // an unclosed header: the bracket is dropped
    }
    return line.substr(open + 1, close - open - 1);
}

bool isBlankText(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

template <class T>
bool readTyped(const std::string& text, T& out) {
    if (isBlankText(text)) {
        return true;  // nothing to extract: the target keeps its value
    }
    std::istringstream in(text);
    in >> out;  // formatted extraction: 0 for non-numbers, clamped when out of range
    return true;
}

std::string lineSafe(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return text;
}

bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// ---- IniSection ----

IniFile::IniEntry* IniFile::IniSection::findEntry(const std::string& key) {
    for (auto& e : entries) {
        if (e.key == key) {
            return &e;
        }
    }
    return nullptr;
}

const IniFile::IniEntry* IniFile::IniSection::findEntry(const std::string& key) const {
    return const_cast<IniSection*>(this)->findEntry(key);
}

IniFile::IniEntry& IniFile::IniSection::getEntry(const std::string& key) {
    if (IniEntry* e = findEntry(key)) {
        return *e;
    }
    entries.push_back(IniEntry{key, std::string(), std::string()});
    return entries.back();
}

void IniFile::IniSection::setValue(const std::string& key, const std::string& value) {
    getEntry(key).value = value;
}

bool IniFile::IniSection::getValue(const std::string& key, std::string& out) const {
    const IniEntry* e = findEntry(key);
    if (e == nullptr) {
        return false;
    }
    return readTyped(e->value, out);
}

bool IniFile::IniSection::getValue(const std::string& key, int& out) const {
    const IniEntry* e = findEntry(key);
    return e != nullptr && readTyped(e->value, out);
}

bool IniFile::IniSection::getValue(const std::string& key, unsigned int& out) const {
    const IniEntry* e = findEntry(key);
    return e != nullptr && readTyped(e->value, out);
}

bool IniFile::IniSection::getValue(const std::string& key, double& out) const {
    const IniEntry* e = findEntry(key);
    return e != nullptr && readTyped(e->value, out);
}

bool IniFile::IniSection::removeEntry(const std::string& key) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->key == key) {
            entries.erase(it);
            return true;
        }
    }
    return false;
}

void IniFile::IniSection::removeComments() {
    for (auto& e : entries) {
        e.comment.clear();
    }
}

void IniFile::IniSection::clear() {
    name.clear();
    entries.clear();
}

// ---- IniFile ----

bool IniFile::load(const std::string& path, bool trimTrailingCr) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return false;
    }
    clear();

    std::string line;
    bool haveLine = false;
    while (std::getline(in, line)) {
        if (classify(line) != LineClass::Comment) {
            haveLine = true;
            break;
        }
        m_headerComment += line;
        m_headerComment += '\n';
    }

    IniSection current;
    std::string pending;
    while (haveLine) {
        switch (classify(line)) {
            case LineClass::Blank:
                break;
            case LineClass::Comment:
            case LineClass::Other:
                pending += line;
                pending += '\n';
                break;
            case LineClass::Section:
                if (!current.isEmpty()) {
                    m_sections.elements.push_back(std::move(current));
                }
                current = IniSection();
                current.name = sectionName(line);
                break;
            case LineClass::Entry: {
                const size_t eq = line.find('=');
                IniEntry entry{line.substr(0, eq), line.substr(eq + 1), std::move(pending)};
                if (trimTrailingCr && !entry.value.empty() && entry.value.back() == '\r') {
                    entry.value.pop_back();
                }
                current.entries.push_back(std::move(entry));
                pending.clear();
                break;
            }
        }
        haveLine = static_cast<bool>(std::getline(in, line));
    }
    if (!current.isEmpty()) {
        m_sections.elements.push_back(std::move(current));
    }
    return true;
}

std::string IniFile::toText() const {
    std::string out = m_headerComment;
    for (const auto& section : m_sections.elements) {
        out += "\n[";
        out += section.name;
        out += "]\n";
        for (const auto& e : section.entries) {
            out += e.comment;
            out += e.key;
            out += '=';
            out += e.value;
            out += '\n';
        }
    }
    return out;
}

bool IniFile::save(const std::string& path) const {
    // Keep the permissions of the file being replaced; a new file gets the usual 0644.
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        return save(path, st.st_mode & 07777);
    }
    const mode_t mask = umask(0);
    umask(mask);
    return save(path, 0644 & ~mask);
}

bool IniFile::save(const std::string& path, unsigned mode) const {
    const std::string text = toText();
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(&tmp[0]);  // created 0600
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, text) && fchmod(fd, static_cast<mode_t>(mode)) == 0 && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        const bool synced = fsync(dirFd) == 0;
        ::close(dirFd);
        return synced;
    }
    return false;
}

void IniFile::clear() {
    m_headerComment.clear();
    m_sections.elements.clear();
}

IniFile::IniSection& IniFile::getSection(size_t idx) {
    assert(idx < m_sections.elements.size());
    return m_sections.elements[idx];
}

IniFile::IniSection* IniFile::findSection(const std::string& section) {
    for (auto& s : m_sections.elements) {
        if (s.name == section) {
            return &s;
        }
    }
    return nullptr;
}

const IniFile::IniSection* IniFile::findSection(const std::string& section) const {
    return const_cast<IniFile*>(this)->findSection(section);
}

bool IniFile::hasSection(const std::string& section) const {
    return findSection(section) != nullptr;
}

bool IniFile::addSection(const std::string& section) {
    if (hasSection(section)) {
        return false;
    }
    IniSection s;
    s.name = lineSafe(section);
    m_sections.elements.push_back(std::move(s));
    return true;
}

bool IniFile::removeSection(const std::string& section) {
    auto& v = m_sections.elements;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it->name == section) {
            v.erase(it);
            return true;
        }
    }
    return false;
}

IniFile::IniSection& IniFile::getOrAddSection(const std::string& section) {
    if (IniSection* s = findSection(section)) {
        return *s;
    }
    addSection(section);
    return m_sections.elements.back();
}

size_t IniFile::getEntryCount(const std::string& section) const {
    const IniSection* s = findSection(section);
    return s == nullptr ? 0 : s->entries.size();
}

bool IniFile::hasEntry(const std::string& section, const std::string& key) const {
    const IniSection* s = findSection(section);
    return s != nullptr && s->hasEntry(key);
}

bool IniFile::removeEntry(const std::string& section, const std::string& key) {
    IniSection* s = findSection(section);
    return s != nullptr && s->removeEntry(key);
}

std::string IniFile::getValue(const std::string& section, const std::string& key,
                              const std::string& def) const {
    const IniSection* s = findSection(section);
    const IniEntry* e = s == nullptr ? nullptr : s->findEntry(key);
    if (e == nullptr) {
        return def;
    }
    // A file edited on another system may end its lines in CR-LF; the model keeps the line
    // as read, the text read gives the value without it.
    if (!e->value.empty() && e->value.back() == '\r') {
        return e->value.substr(0, e->value.size() - 1);
    }
    return e->value;
}

std::string IniFile::getValue(const std::string& section, const std::string& key,
                              const char* def) const {
    return getValue(section, key, std::string(def == nullptr ? "" : def));
}

bool IniFile::getValue(const std::string& section, const std::string& key, int& out) const {
    const IniSection* s = findSection(section);
    return s != nullptr && s->getValue(key, out);
}

bool IniFile::getValue(const std::string& section, const std::string& key,
                       unsigned int& out) const {
    const IniSection* s = findSection(section);
    return s != nullptr && s->getValue(key, out);
}

bool IniFile::getValue(const std::string& section, const std::string& key,
                       std::string& out) const {
    const IniSection* s = findSection(section);
    return s != nullptr && s->getValue(key, out);
}

void IniFile::setValue(const std::string& section, const std::string& key,
                       const std::string& value) {
    getOrAddSection(lineSafe(section)).setValue(lineSafe(key), lineSafe(value));
}

void IniFile::setValue(const std::string& section, const std::string& key, const char* value) {
    setValue(section, key, std::string(value == nullptr ? "" : value));
}

void IniFile::setValue(const std::string& section, const std::string& key, int value) {
    setValue(section, key, std::to_string(value));
}

void IniFile::setValue(const std::string& section, const std::string& key, unsigned int value) {
    setValue(section, key, std::to_string(value));
}

std::string IniFile::getComment(const std::string& section, const std::string& key) const {
    const IniSection* s = findSection(section);
    const IniEntry* e = s == nullptr ? nullptr : s->findEntry(key);
    return e == nullptr ? std::string() : e->comment;
}

void IniFile::setComment(const std::string& section, const std::string& key,
                         const std::string& comment) {
    getOrAddSection(lineSafe(section)).getEntry(lineSafe(key)).comment = comment;
}

void IniFile::removeComments(const std::string& section) {
    if (IniSection* s = findSection(section)) {
        s->removeComments();
    }
}

void IniFile::removeAllComments() {
    for (auto& s : m_sections.elements) {
        s.removeComments();
    }
}

}  // namespace comn
