"""lumox.files.YamlFile: the YAML mapping behind the variables file."""

import fcntl
import os
import stat

import pytest
import yaml

from lumox.files import YamlFile


def test_round_trip_keeps_text_readable_order_and_types(tmp_path):
    path = tmp_path / "vars.yaml"
    data = YamlFile(path)
    assert data == {} and data.path == str(path) and not path.exists()
    data["用户名"] = "张三"
    data.update({"token": "abc", "count": 3, "ratio": 0.5, "ok": True, "none": None,
                 "items": [1, {"k": "值"}]})
    data.save()

    text = path.read_text(encoding="utf-8")
    assert text.startswith("用户名: 张三\ntoken: abc\n")  # readable, in insertion order
    assert "items:\n- 1\n- k: 值\n" in text  # block style
    assert YamlFile(str(path)) == data


def test_update_merges_into_the_loaded_file(tmp_path):
    path = tmp_path / "vars.yaml"
    path.write_text("a: 1\nb: old\n", encoding="utf-8")
    data = YamlFile(path)
    assert data == {"a": 1, "b": "old"}
    data.update({"b": "new", "c": [1, 2]})
    data.save()
    assert list(YamlFile(path).items()) == [("a", 1), ("b", "new"), ("c", [1, 2])]


def test_failed_save_leaves_the_old_file_and_no_temporary_file(tmp_path):
    path = tmp_path / "vars.yaml"
    path.write_text("keep: me\n", encoding="utf-8")
    path.chmod(0o640)
    data = YamlFile(path)
    data["token"] = "new"
    data["session"] = object()
    with pytest.raises(ValueError, match=r"cannot save '.*vars.yaml': the value of 'session' "
                                         r"\(<object object at .*>\) cannot be written as YAML"):
        data.save()
    assert path.read_text(encoding="utf-8") == "keep: me\n"
    assert os.listdir(tmp_path) == ["vars.yaml"]

    del data["session"]
    data.save()
    assert yaml.safe_load(path.read_text(encoding="utf-8")) == {"keep": "me", "token": "new"}
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    assert os.listdir(tmp_path) == ["vars.yaml"]


def test_unwritable_directory_raises_os_error_naming_the_path(tmp_path):
    # Tests run as root, so a path below a regular file stands for an unwritable directory.
    (tmp_path / "plain").write_text("x", encoding="utf-8")
    path = tmp_path / "plain" / "vars.yaml"
    data = YamlFile(path)
    data["a"] = 1
    with pytest.raises(NotADirectoryError) as raised:
        data.save()
    assert raised.value.filename == str(path)
    assert str(path) in str(raised.value)
    assert os.listdir(tmp_path) == ["plain"]


@pytest.mark.parametrize(
    ("content", "problem"),
    [
        ("a: [1\n", "is not valid YAML: while parsing a flow sequence"),
        ("- 1\n- 2\n", "holds a YAML list, expected a mapping of names to values"),
        ("just text\n", "holds a YAML str, expected a mapping of names to values"),
        ("a: 1\n---\nb: 2\n", "is not valid YAML: expected a single document"),
        ("a: !!python/object:os.system x\n",
         "is not valid YAML: could not determine a constructor"),
    ],
)
def test_bad_files_are_refused_naming_the_file(tmp_path, content, problem):
    path = tmp_path / "vars.yaml"
    path.write_text(content, encoding="utf-8")
    with pytest.raises(ValueError) as raised:
        YamlFile(path)
    assert str(raised.value).startswith(f"'{path}' {problem}")


def test_empty_files_and_a_byte_order_mark_are_accepted(tmp_path):
    (tmp_path / "empty.yaml").write_text("", encoding="utf-8")
    (tmp_path / "comment.yaml").write_text("# nothing yet\n", encoding="utf-8")
    (tmp_path / "bom.yaml").write_text("\ufeffa: 1\n", encoding="utf-8")
    assert YamlFile(tmp_path / "empty.yaml") == {}
    assert YamlFile(tmp_path / "comment.yaml") == {}
    assert YamlFile(tmp_path / "bom.yaml") == {"a": 1}


def test_save_merges_only_what_this_object_changed(tmp_path):
    # Two objects on one file stand for two processes saving the same variables file.
    path = tmp_path / "vars.yaml"
    path.write_text("a: 1\nb: 2\ngone: x\nkept: y\n", encoding="utf-8")
    first, second, idle = YamlFile(path), YamlFile(path), YamlFile(path)
    first["a"] = 10
    first |= {"new_1": 1}
    first.setdefault("b", "ignored")  # present: no change
    second.update({"b": 20}, new_2=2)
    del second["gone"]
    second.setdefault("new_3", 3)
    first.save()
    second.save()
    idle.save()  # changed nothing: undoes nothing
    assert list(YamlFile(path).items()) == [("a", 10), ("b", 20), ("kept", "y"), ("new_1", 1),
                                            ("new_2", 2), ("new_3", 3)]

    # Removals count as changes; a saved change is not written again by the next save.
    other = YamlFile(path)
    assert first.pop("new_1") == 1 and first.pop("missing", None) is None
    assert first.popitem() == ("kept", "y")  # its own last key; it never saw new_2, new_3
    other["a"] = 11
    other.save()
    first.save()
    assert YamlFile(path) == {"a": 11, "b": 20, "new_2": 2, "new_3": 3}
    second.clear()
    second.save()
    assert YamlFile(path) == {}


def test_save_removes_interrupted_saves_and_leaves_no_lock_file(tmp_path):
    path = tmp_path / "vars.yaml"
    killed = tmp_path / ".vars.yaml.tmp-0123456789ab"  # a save killed before its rename
    killed.write_text("half: wri", encoding="utf-8")
    (tmp_path / ".vars.yaml.lock").write_text("", encoding="utf-8")  # its lock file
    data = YamlFile(path)
    data["a"] = 1
    data.save()
    assert os.listdir(tmp_path) == ["vars.yaml"]


def test_a_lock_held_elsewhere_makes_save_wait_then_fail_naming_the_file(tmp_path):
    path = tmp_path / "vars.yaml"
    path.write_text("a: 1\n", encoding="utf-8")
    data = YamlFile(path)
    assert data.lock_timeout == 30
    data.lock_timeout = 0.05
    data["a"] = 2
    with open(tmp_path / ".vars.yaml.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with pytest.raises(TimeoutError, match=rf"^could not lock '{path}' within 0\.05 s: "
                                               rf"another process holds '.*\.vars\.yaml\.lock'$"):
            data.save()
        assert path.read_text(encoding="utf-8") == "a: 1\n"
    data.save()
    assert YamlFile(path) == {"a": 2}
    data.lock_timeout = -1
    with pytest.raises(ValueError, match="lock_timeout must be a finite number of seconds"):
        data.save()
