"""labgrid support for Vireo boards in their boot ROM: a driver that runs
sealbench-cli over the board's serial port (local, or exported by a labgrid
exporter through ser2net) and a strategy that takes the board from its boot ROM
to a flashed image.

Import this package from a labgrid environment (``imports: [sealbench_labgrid]``)
to register ``SealbenchDriver`` and ``SealbenchStrategy``.
"""

from .driver import SealbenchDriver
from .strategy import SealbenchStrategy, Status

__all__ = ["SealbenchDriver", "SealbenchStrategy", "Status"]
