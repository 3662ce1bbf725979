"""Without a server the pass fails at once and the window offers a retry. Every close path
(Escape, "ZAMKNIJ", the close glyph, Alt+F4 which arrives as WM_CLOSE) closes it with exit
code 0, and a press outside the buttons drags the window without any action."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import window_driver as wd  # noqa: E402


class CloseAndDragTest(unittest.TestCase):
    def start_failed(self, session, name):
        folder = session.install("install")
        proc = session.start(os.path.join(folder, "VorlanePatcher.exe"), timeout=60)
        window = session.find_window()
        self.assertIsNotNone(window, "window of " + name)
        self.assertEqual(session.wait_phase(window, wd.FAILED, 30, save_as=name), wd.FAILED)
        return proc, window

    def test_every_close_path_closes_outside_downloading(self):
        with wd.Session("close_paths") as session:
            closers = {
                "escape": lambda w: session.key(w, "Escape"),
                "close_button": lambda w: session.click(w, wd.CLOSE_BUTTON),
                "close_glyph": lambda w: session.click(w, wd.CLOSE_GLYPH),
                "alt_f4": lambda w: session.key(w, "alt+F4"),
            }
            for name, close in closers.items():
                with self.subTest(name):
                    proc, window = self.start_failed(session, "failed_before_" + name)
                    close(window)
                    self.assertTrue(session.wait_gone(10), name + " left the window open")
                    self.assertEqual(wd.wait_exit(proc, 15), 0)

    def test_press_outside_the_buttons_drags_and_does_nothing_else(self):
        with wd.Session("drag") as session:
            proc, window = self.start_failed(session, "failed_before_drag")
            before = session.origin(window)
            # Presses beside each button, in the gap between them and on the title.
            # Back and forth, so the pointer stays on the screen.
            for i, start in enumerate((wd.BUTTON_GAP, (227, 358), (333, 379), (589, 358), (40, 40), (577, 26))):
                by = (60, 40) if i % 2 == 0 else (-60, -40)
                session.drag(window, start, by)
                after = session.origin(window)
                self.assertEqual((after[0] - before[0], after[1] - before[1]), by, "drag from %s" % (start,))
                before = after
                self.assertTrue(session.window_exists())
                self.assertEqual(session.phase(window), wd.FAILED)
            session.shot(window, "after_drags")
            self.assertIsNone(wd.wait_exit(proc, 0.5), "the program ended after a drag")
            session.key(window, "Escape")
            self.assertEqual(wd.wait_exit(proc, 15), 0)


if __name__ == "__main__":
    rc = wd.run_isolated(os.path.abspath(__file__))
    if rc is not False:
        sys.exit(rc)
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
