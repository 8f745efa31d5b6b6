"""Runs pytest on the paths given. Exits with 77, which CTest counts as a
skip, when pytest is not installed (Debian: python3-pytest)."""

import sys

# Tests that start processes by spawning import this file again in them.
if __name__ == "__main__":
    try:
        import pytest
    except ImportError:
        print("pytest is not installed")
        sys.exit(77)
    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]]))
