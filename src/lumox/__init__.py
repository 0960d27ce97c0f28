"""lumox: keyword-driven test automation for pytest.

The behaviour lives in the native extension modules of this package (lumox.settings,
lumox.exchange, lumox.assertion, ...); the few Python files only give pytest the
hook and fixture functions it needs.
"""

__version__ = "0.1.0"
