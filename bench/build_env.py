"""The environment the end-to-end benchmarks need before tests/e2e/window_driver.py is
imported: the win32 build directory given as the first argument, its Wine prefix and the
development key. Import this module first; it also puts tests/e2e on the module path."""
import os
import sys

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
if len(sys.argv) > 1:
    os.environ["VORLANE_BUILD_DIR"] = os.path.abspath(sys.argv[1])
    os.environ.setdefault("VORLANE_SOURCE_DIR", SOURCE)
    os.environ.setdefault("WINEPREFIX", os.path.join(os.environ["VORLANE_BUILD_DIR"], "wineprefix"))
    os.environ.setdefault("VORLANE_DEV_KEY_DIR", os.path.join(SOURCE, "build", "devkey"))
