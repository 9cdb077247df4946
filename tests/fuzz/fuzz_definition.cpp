// A definition file as the window loads it: the real reader on a temporary
// file, its lines as the line store keeps them, each line bound to the
// address, the port or a slot, and split into label and value.
#include "base/text.h"
#include "fuzz_check.h"
#include "sequencing/definition_file.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// One file for the whole run, rewritten for every input.
struct ScratchFile {
    ScratchFile() {
        fd = ::mkstemp(path.data());
        FUZZ_CHECK(fd >= 0);
    }
    ~ScratchFile() {
        ::close(fd);
        ::unlink(path.c_str());
    }
    // Writes over the old content and then cuts it to size: a cut to zero
    // first would make ext4 flush the file at every close.
    void Write(const uint8_t* data, size_t size) const {
        FUZZ_CHECK(::pwrite(fd, data, size, 0) == ssize_t(size));
        FUZZ_CHECK(::ftruncate(fd, off_t(size)) == 0);
    }
    std::string path = TempDirectory() + "/zyl-fuzz-definition-XXXXXX";
    int fd = -1;
};

// Lines by counting breaks: CR LF, CR and LF each end one; text after the
// last break is one more line.
qsizetype ModelLineCount(const QByteArray& text) {
    qsizetype lines = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        if (text[i] == '\r' || text[i] == '\n')
            ++lines;
    }
    const bool openLast = !text.isEmpty() && text.back() != '\r' && text.back() != '\n';
    return lines + (openLast ? 1 : 0);
}

void CheckLine(const QByteArray& line) {
    FUZZ_CHECK(line.size() <= kMaxLineLength);
    FUZZ_CHECK(!line.contains('\r') && !line.contains('\n') && !line.contains('\0'));
    const TDefinitionLine split = SplitDefinitionLine(line);
    if (line.contains('=')) {
        FUZZ_CHECK(split.label + "=" + split.value == line);
        FUZZ_CHECK(!split.value.contains('='));
    } else {
        FUZZ_CHECK(split.label.isEmpty() && split.value == line);
    }
}

void CheckBinding(qsizetype index) {
    using K = TLineBinding::TKind;
    const TLineBinding binding = BindDefinitionLine(index);
    const K expected = index == 0   ? K::Address
                       : index == 1 ? K::Port
                       : index < 20 ? K::Slot
                                    : K::None;
    FUZZ_CHECK(binding.kind == expected);
    if (binding.kind == K::Slot)
        FUZZ_CHECK(binding.slot == index - 1 && binding.slot >= 1 && binding.slot <= 18);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ScratchFile file;
    file.Write(data, size);
    const QByteArray text = ReadDefinitionFile(QString::fromStdString(file.path));
    const QByteArray written(reinterpret_cast<const char*>(data), qsizetype(size));
    FUZZ_CHECK(text == written.left(written.indexOf('\0') < 0 ? size : written.indexOf('\0')));

    const QList<QByteArray> lines = SplitLines(text, kMaxLineLength);
    FUZZ_CHECK(lines.size() == ModelLineCount(text));
    FUZZ_CHECK(ItemCountOf(lines.size()) == lines.size() - 2);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        CheckLine(lines[i]);
        CheckBinding(i);
    }
    return 0;
}
