"""pytest plugin: under `it433td emulate ... -- pytest`, each test's receipts
are labelled with the test's id (it433td.label), so their golden files are
named after the test ("tests/test_till.py::test_total" is
tests%2Ftest_till.py%3A%3Atest_total.txt) and a test added or removed is
the one difference --expect shows. Receipts printed in a test's setup and
teardown are its own; a label the run refuses (an id too long for a file
name) is an error of the test's setup. Outside a run it does nothing.

pytest loads it by itself (the package's pytest11 entry point); `-p
it433td.pytest_plugin` loads it by hand, `-p no:it433td` leaves it out.
"""

import pytest

import it433td


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item):
    # First of the test's setup, so its fixtures' receipts are its own too.
    # A label the run refuses fails the test's setup, saying why.
    if it433td.in_run():
        it433td.label(item.nodeid)
