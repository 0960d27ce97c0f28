"""pytest plug-in that collects YAML cases (``test_*.yaml``); see lumox.yaml_cases."""

from lumox import _hookspec, yaml_cases


def pytest_addhooks(pluginmanager):
    pluginmanager.add_hookspecs(_hookspec)


def pytest_collect_file(file_path, parent):
    return yaml_cases.collect_file(file_path, parent)
