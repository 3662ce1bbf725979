#include "ui/phase_view.h"

#include <algorithm>

#include "ui/paint_texts.h"
#include "ui/palette.h"

Color StatusColor(int32_t phase) {
    switch (phase) {
        case UpToDate:
        case Updated:
            return Palette::Success;
        case UpdateAvailable:
            return Palette::Warning;
        case Failed:
            return Palette::Error;
        default:
            return Palette::Text;
    }
}

double ProgressFraction(const PaintSnapshot& s) {
    switch (s.phase) {
        case Downloading:
            return s.totalBytes > 0 ? static_cast<double>(s.doneBytes) / static_cast<double>(s.totalBytes)
                                    : 0.0;
        case UpToDate:
        case Updated:
            return 1.0;
        default:
            return 0.0;
    }
}

DetailLine DetailLineFor(const PaintSnapshot& s) {
    switch (s.phase) {
        case UpdateAvailable: {
            std::string text = FormatFileCountLine(s.fileCount, s.totalBytes);
            if (s.botRunning) {
                return {"Zamknij Vorlane (F12), aby zaktualizowac  -  " + text, Palette::Warning};
            }
            return {text, Palette::TextMuted};
        }
        case Downloading: {
            // While the last file is finishing the index already equals the count.
            const int32_t number =
                static_cast<int32_t>(std::min<int64_t>(int64_t{s.fileIndex} + 1, s.fileCount));
            return {FormatDownloadLine(number, s.fileCount, s.currentFile, s.doneBytes, s.totalBytes),
                    Palette::TextMuted};
        }
        case Failed:
            return {s.errorDetail, Palette::TextMuted};
        case Updated:
            return {s.patcherStaged ? "Nowy patcher zostanie podmieniony przy starcie bota." : "",
                    Palette::TextMuted};
        default:
            return {"", Palette::TextMuted};
    }
}

const std::string& NotesText(const PaintSnapshot& s) {
    static const std::string kNoNotes = "Brak opisu zmian.";
    return s.releaseNotes.empty() ? kNoNotes : s.releaseNotes;
}
