"""Files of a lumox run: the YAML variables file (native module)."""

import os
from typing import Any

class YamlFile(dict[Any, Any]):
    """A dict bound to a YAML file: loaded when made, written back by save()."""

    path: str
    def __init__(self, path: str | os.PathLike[str]) -> None: ...
    def save(self) -> None: ...
