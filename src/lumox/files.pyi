"""Files of a lumox run: the YAML variables file (native module)."""

import os
from typing import Any

class YamlFile(dict[Any, Any]):
    """A dict bound to a YAML file: loaded when made; save() merges the keys assigned or
    removed since into the file under a lock, keeping what other processes saved."""

    path: str
    #: Seconds save() waits for another process's save of the same file (TimeoutError).
    lock_timeout: float
    def __init__(self, path: str | os.PathLike[str]) -> None: ...
    def save(self) -> None: ...
