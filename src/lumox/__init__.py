"""lumox: keyword-driven test automation for pytest.

The behaviour lives in the native extension modules of this package (lumox.settings,
lumox.exchange, lumox.assertion, ...); the few Python files only give pytest the
hook and fixture functions it needs.

PYTEST_DONT_REWRITE: the `lumox` command imports this package before it starts pytest, so
pytest would warn at every `lumox run` that it cannot rewrite the asserts of a package that
holds none.
"""

__version__ = "0.1.0"
