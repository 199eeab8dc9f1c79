#!/usr/bin/python3
"""Runs the labgrid driver's tests with labgrid's pytest plugin; exits 77 (a
skip for CTest) with the reason when labgrid or pytest is not installed."""

import os
import sys

try:
    import labgrid  # noqa: F401
    import pytest
except ImportError as missing:
    print(f"SKIPPED: {missing.name} is not installed for {sys.executable} "
          "(scripts/install-deps.sh installs python3-labgrid and python3-pytest)")
    sys.exit(77)

here = os.path.dirname(os.path.abspath(__file__))
sys.exit(pytest.main(["-p", "no:cacheprovider", "-v", "--rootdir", here, here, *sys.argv[1:]]))
