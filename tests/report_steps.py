"""Records the report steps that allure is told about, through allure's own plug-in manager."""

import json

import allure_commons
import pytest


def written_results(folder):
    """The test results allure-pytest wrote into `folder`, read."""
    return [json.loads(path.read_text(encoding="utf-8")) for path in folder.glob("*-result.json")]


class StepRecorder:
    def __init__(self):
        self.steps = []

    @allure_commons.hookimpl
    def start_step(self, uuid, title, params):
        self.steps.append({"uuid": uuid, "title": title, "params": params, "error": "open"})

    @allure_commons.hookimpl
    def stop_step(self, uuid, exc_type, exc_val, exc_tb):
        for step in self.steps:
            if step["uuid"] == uuid:
                step["error"] = exc_val

    def summary(self):
        """(title, passed) per step; a step never closed shows as 'open'."""
        return [(s["title"], "open" if s["error"] == "open" else s["error"] is None)
                for s in self.steps]


# Named apart from the fixture, so that the modules importing it do not see their
# `report_steps` parameters shadow the import.
@pytest.fixture(name="report_steps")
def report_steps_fixture():
    recorder = StepRecorder()
    allure_commons.plugin_manager.register(recorder)
    yield recorder
    allure_commons.plugin_manager.unregister(recorder)
