// What the window shows in each phase: the hit test, the main button, the colours and the
// texts of the version, status and detail lines, including manifest texts of any length.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/button_look.h"
#include "ui/hit_test.h"
#include "ui/paint_snapshot.h"
#include "ui/paint_texts.h"
#include "ui/palette.h"
#include "ui/phase_view.h"

namespace {

const std::string kHuge(100000, 'v');

PaintSnapshot InPhase(int32_t phase) {
    PaintSnapshot s;
    s.phase = phase;
    return s;
}

}  // namespace

TEST(HitTest, EdgesOfTheThreeTargets) {
    EXPECT_EQ(HitTestButtons(228, 338), MainButton);
    EXPECT_EQ(HitTestButtons(437, 377), MainButton);
    EXPECT_EQ(HitTestButtons(438, 358), None);  // the gap between the buttons drags the window
    EXPECT_EQ(HitTestButtons(447, 358), None);
    EXPECT_EQ(HitTestButtons(448, 338), CloseButton);
    EXPECT_EQ(HitTestButtons(587, 377), CloseButton);
    EXPECT_EQ(HitTestButtons(588, 340), None);
    EXPECT_EQ(HitTestButtons(300, 378), None);
    EXPECT_EQ(HitTestButtons(578, 12), CloseGlyph);
    EXPECT_EQ(HitTestButtons(605, 39), CloseGlyph);
    EXPECT_EQ(HitTestButtons(606, 20), None);
    EXPECT_EQ(HitTestButtons(590, 40), None);
    EXPECT_EQ(HitTestButtons(577, 20), None);
    EXPECT_EQ(HitTestButtons(-5, -5), None);
    EXPECT_EQ(HitTestButtons(700, 500), None);
}

TEST(MainButton, CaptionAccentAndEnabledPerPhase) {
    struct Row {
        int32_t phase;
        bool botRunning;
        const char* caption;
        Color accent;
        bool enabled;
    };
    const Row rows[] = {
        {Checking, false, "SPRAWDZAM...", Palette::Accent, false},
        {UpToDate, false, "URUCHOM VORLANE", Palette::Success, true},
        {UpdateAvailable, false, "AKTUALIZUJ", Palette::Accent, true},
        {UpdateAvailable, true, "AKTUALIZUJ", Palette::Accent, false},
        {Downloading, false, "POBIERANIE...", Palette::Accent, false},
        {Updated, true, "URUCHOM VORLANE", Palette::Success, true},
        {Failed, true, "SPROBUJ PONOWNIE", Palette::Warning, true},
    };
    for (const Row& r : rows) {
        const MainButtonState b = MainButtonFor(r.phase, r.botRunning);
        EXPECT_STREQ(b.caption, r.caption);
        EXPECT_EQ(b.accent, r.accent) << r.caption;
        EXPECT_EQ(b.enabled, r.enabled) << r.caption << " bot " << r.botRunning;
    }
    EXPECT_FALSE(MainButtonFor(42, false).enabled);
    for (int32_t phase = Checking; phase <= Failed; ++phase) {
        EXPECT_EQ(CloseButtonEnabled(phase), phase != Downloading);
    }
}

TEST(PhaseView, StatusColorAndProgressFraction) {
    EXPECT_EQ(StatusColor(Checking), Palette::Text);
    EXPECT_EQ(StatusColor(UpToDate), Palette::Success);
    EXPECT_EQ(StatusColor(UpdateAvailable), Palette::Warning);
    EXPECT_EQ(StatusColor(Downloading), Palette::Text);
    EXPECT_EQ(StatusColor(Updated), Palette::Success);
    EXPECT_EQ(StatusColor(Failed), Palette::Error);

    PaintSnapshot s = InPhase(Downloading);
    s.doneBytes = 300;
    EXPECT_EQ(ProgressFraction(s), 0.0);  // nothing to download yet: the trough only
    s.totalBytes = 1200;
    EXPECT_DOUBLE_EQ(ProgressFraction(s), 0.25);
    s.doneBytes = 5000;
    EXPECT_GT(ProgressFraction(s), 1.0);  // drawn as a full bar
    s.phase = UpToDate;
    EXPECT_EQ(ProgressFraction(s), 1.0);
    s.phase = Updated;
    EXPECT_EQ(ProgressFraction(s), 1.0);
    for (int32_t phase : {Checking, UpdateAvailable, Failed}) {
        s.phase = phase;
        EXPECT_EQ(ProgressFraction(s), 0.0);
    }
}

TEST(PaintTexts, FormatMegabytes) {
    EXPECT_EQ(FormatMegabytes(0), "0.0 MB");
    EXPECT_EQ(FormatMegabytes(104857), "0.1 MB");
    EXPECT_EQ(FormatMegabytes(524288), "0.5 MB");
    EXPECT_EQ(FormatMegabytes(1048576), "1.0 MB");
    EXPECT_EQ(FormatMegabytes(1572864), "1.5 MB");
    EXPECT_EQ(FormatMegabytes(-1048576), "-1.0 MB");
    EXPECT_EQ(FormatMegabytes(INT64_MAX), "8796093022208.0 MB");
    EXPECT_EQ(FormatMegabytes(INT64_MIN), "-8796093022208.0 MB");
}

TEST(PaintTexts, VersionLineWithMissingAndOverlongVersions) {
    EXPECT_EQ(FormatVersionLine("", ""), "Twoja wersja:  brak        Najnowsza:  ...");
    EXPECT_EQ(FormatVersionLine("2.4.1", "2.5.0"), "Twoja wersja:  2.4.1        Najnowsza:  2.5.0");
    // A manifest version of any length is cut where the 160-byte line ends.
    const std::string cut = FormatVersionLine("2.4.1", kHuge);
    EXPECT_EQ(cut.size(), 159u);
    EXPECT_EQ(cut.substr(0, 42), "Twoja wersja:  2.4.1        Najnowsza:  vv");
    EXPECT_EQ(FormatVersionLine(kHuge, "1.0").size(), 159u);
}

TEST(PhaseView, DetailLinePerPhase) {
    PaintSnapshot s = InPhase(UpdateAvailable);
    s.fileCount = 1;
    s.totalBytes = 524288;
    DetailLine d = DetailLineFor(s);
    EXPECT_EQ(d.text, "1 plikow, 0.5 MB");
    EXPECT_EQ(d.color, Palette::TextMuted);
    s.botRunning = true;
    d = DetailLineFor(s);
    EXPECT_EQ(d.text, "Zamknij Vorlane (F12), aby zaktualizowac  -  1 plikow, 0.5 MB");
    EXPECT_EQ(d.color, Palette::Warning);

    s = InPhase(Downloading);
    s.fileIndex = 2;
    s.fileCount = 5;
    s.currentFile = "data/maps/north.bin";
    s.doneBytes = 1048576;
    s.totalBytes = 3145728;
    EXPECT_EQ(DetailLineFor(s).text, "3 / 5   data/maps/north.bin   (1.0 MB / 3.0 MB)");
    s.fileIndex = 5;
    EXPECT_EQ(DetailLineFor(s).text.substr(0, 6), "5 / 5 ");
    s.fileIndex = INT32_MAX;
    EXPECT_EQ(DetailLineFor(s).text.substr(0, 6), "5 / 5 ");

    s = InPhase(Failed);
    s.errorDetail = "Brak polaczenia z serwerem";
    EXPECT_EQ(DetailLineFor(s).text, "Brak polaczenia z serwerem");
    EXPECT_EQ(DetailLineFor(s).color, Palette::TextMuted);

    s = InPhase(Updated);
    EXPECT_EQ(DetailLineFor(s).text, "");
    s.patcherStaged = true;
    EXPECT_EQ(DetailLineFor(s).text, "Nowy patcher zostanie podmieniony przy starcie bota.");
    // Left over from earlier passes, but not shown in these phases.
    for (int32_t phase : {Checking, UpToDate}) {
        s = InPhase(phase);
        s.errorDetail = "stare";
        s.fileCount = 3;
        EXPECT_EQ(DetailLineFor(s).text, "");
    }
}

TEST(PhaseView, OverlongFileNamesAreCutAtTheLineBuffers) {
    PaintSnapshot s = InPhase(Downloading);
    s.fileIndex = 0;
    s.fileCount = 1;
    s.currentFile = kHuge;
    const std::string line = DetailLineFor(s).text;
    EXPECT_EQ(line.size(), 199u);
    EXPECT_EQ(line.substr(0, 9), "1 / 1   v");

    s = InPhase(UpdateAvailable);
    s.fileCount = INT32_MIN;
    s.totalBytes = INT64_MIN;
    s.botRunning = true;
    EXPECT_EQ(DetailLineFor(s).text,
              "Zamknij Vorlane (F12), aby zaktualizowac  -  -2147483648 plikow, -8796093022208.0 MB");
}

TEST(PhaseView, NotesFallBackWhenEmpty) {
    PaintSnapshot s = InPhase(UpToDate);
    EXPECT_EQ(NotesText(s), "Brak opisu zmian.");
    s.releaseNotes = "Nowa mapa\nPoprawki";
    EXPECT_EQ(NotesText(s), "Nowa mapa\nPoprawki");
}

TEST(PaintSnapshot, CopiesEveryFieldAndReleasesTheLock) {
    UpdaterState state;
    state.phase = Downloading;
    state.installedVersion = "1.2.3";
    state.latestVersion = "1.3.0";
    state.releaseNotes = "notes";
    state.statusText = "Pobieram pliki...";
    state.currentFile = "a/b.dll";
    state.errorDetail = "detail";
    state.totalBytes = INT64_C(5000000000);
    state.doneBytes = 7;
    state.fileCount = 4;
    state.fileIndex = 2;
    state.botRunning = true;
    state.patcherStaged = true;
    const PaintSnapshot s = TakePaintSnapshot(state);
    EXPECT_TRUE(state.mutex.try_lock());
    state.mutex.unlock();
    EXPECT_EQ(s.phase, Downloading);
    EXPECT_EQ(s.installedVersion, "1.2.3");
    EXPECT_EQ(s.latestVersion, "1.3.0");
    EXPECT_EQ(s.releaseNotes, "notes");
    EXPECT_EQ(s.statusText, "Pobieram pliki...");
    EXPECT_EQ(s.currentFile, "a/b.dll");
    EXPECT_EQ(s.errorDetail, "detail");
    EXPECT_EQ(s.totalBytes, INT64_C(5000000000));
    EXPECT_EQ(s.doneBytes, 7);
    EXPECT_EQ(s.fileCount, 4);
    EXPECT_EQ(s.fileIndex, 2);
    EXPECT_TRUE(s.botRunning);
    EXPECT_TRUE(s.patcherStaged);
}

TEST(PaintTexts, DrawingCutsKeepTheVisibleStart) {
    EXPECT_EQ(CutForLine("Pobieram pliki..."), "Pobieram pliki...");
    EXPECT_EQ(CutForLine(kHuge), kHuge.substr(0, 1024));
    EXPECT_EQ(CutForLine(std::string("przed\0po", 8)), "przed");  // drawing stops at a zero byte too

    const std::string eight = "1\n2\n3\n\n5\n6\n7\n8";
    EXPECT_EQ(CutForNotes(eight), eight);
    EXPECT_EQ(CutForNotes(eight + "\n9\n10"), eight);
    EXPECT_EQ(CutForNotes(std::string(20, '\n')), std::string(7, '\n'));
    EXPECT_EQ(CutForNotes(kHuge), kHuge.substr(0, 8192));
    EXPECT_EQ(CutForNotes(std::string("a\nb\0c\nd", 7)), "a\nb");
    EXPECT_EQ(CutForNotes(""), "");
}
