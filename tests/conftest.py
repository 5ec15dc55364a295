"""Fixtures for every test module. Helpers that tests import live in the
helpers package."""
import gc

import pytest


@pytest.fixture(autouse=True)
def _cycles_of_earlier_tests_freed_here(request):
    """The Dask tests start threads (each task thread's helper, the threaded
    scheduler's pool, a client's event loop), and the cyclic collector runs
    on whichever thread allocates when it is due. A frame of this thread that
    an earlier test left in a reference cycle would then be dropped there:
    leaked, with a warning the Dask tests count as a fault. Collect it here
    first."""
    if request.module.__name__.startswith("test_dask_"):
        gc.collect()
