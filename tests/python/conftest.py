"""Installations of the package that the installation and typing tests try."""

import os
import signal
import sys

import pytest


def _installed_pythons():
    # The interpreter running the tests, whose environment has the package
    # pip-installed; with STOWVEX_WHEEL_PYTHON (set by `make wheel`) also the
    # interpreter of a fresh environment holding only the repaired wheel.
    found = [pytest.param(sys.executable, id="this")]
    wheel_python = os.environ.get("STOWVEX_WHEEL_PYTHON")
    if wheel_python:
        found.append(pytest.param(wheel_python, id="wheel"))
    return found


@pytest.fixture(params=_installed_pythons())
def installed_python(request):
    """An interpreter whose environment has stowvex installed."""
    return request.param


@pytest.fixture
def ctrl_c_reaches_children():
    """Commands started by the test get Ctrl-C as from a terminal, even when the tests
    themselves run with SIGINT ignored (a job a non-interactive shell put in the
    background): a child inherits an ignored SIGINT, and Python then never turns it
    into KeyboardInterrupt."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, previous)
