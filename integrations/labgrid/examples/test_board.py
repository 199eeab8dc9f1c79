"""An example test for labgrid's pytest plugin: flash the board, then check a word."""


def test_flash_and_read(target, strategy):
    strategy.transition("flashed")
    sealbench = target.get_driver("SealbenchDriver")
    assert sealbench.read(0x80000000) is not None
