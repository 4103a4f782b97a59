#include "core/IniFile.h"

#include <utility>

#include "core/IniFileIo.h"
#include "core/Notice.h"

TProfileFile::TProfileFile(std::string path) : m_path(AbsolutePath(path)) {}

bool TProfileFile::Load() {
    std::string content;
    std::string why;
    const TFileRead read = ReadWholeFile(m_path, kMaxFileSize, content, &why);
    m_text = TProfileText(read == TFileRead::Ok ? std::move(content) : std::string());
    // The defaults apply as for a missing file, but a file that is there
    // and passed over would leave the user puzzling over a wrong port.
    if (read == TFileRead::Unreadable) {
        FileNotice(m_path, ": soubor nastavení přeskočen, " + why + "; platí výchozí hodnoty");
    }
    return read == TFileRead::Ok;
}

bool TProfileFile::WriteStrings(std::span<const TProfileEntry> entries) {
    m_lastError = "Unable to write to " + m_path;
    std::size_t writable = 0;
    while (writable < entries.size() &&
           TProfileText::Writable(entries[writable].section, entries[writable].key, entries[writable].value))
        ++writable;

    if (writable > 0) {
        TProfileText text;
        const auto edit = [&](std::string& content) {
            text = TProfileText(content.empty() ? m_startContent : std::move(content));
            for (std::size_t i = 0; i < writable; ++i)
                text.WriteString(entries[i].section, entries[i].key, entries[i].value);
            content = text.Content();
        };
        if (!UpdateFileContent(m_path, kMaxFileSize, edit)) return false;
        m_text = std::move(text);
    }
    if (writable < entries.size()) return false;
    m_lastError.clear();
    return true;
}

bool TProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const TProfileEntry entry{section, key, std::string(value)};
    return WriteStrings(std::span(&entry, 1));
}
