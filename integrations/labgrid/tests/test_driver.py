"""SealbenchDriver and SealbenchStrategy through labgrid's pytest plugin, on
NetworkSerialPort resources served by ser2net in front of vireo-sim."""

import pytest
from labgrid.driver.exception import ExecutionError

from sealbench_labgrid import SealbenchDriver, Status


def test_driver_names_the_exported_port(target):
    driver = target.get_driver(SealbenchDriver)
    port = target.get_resource("NetworkSerialPort")
    assert driver.port_name() == f"rfc2217://127.0.0.1:{port.port}"


def test_register_write_and_read(target):
    driver = target.get_driver(SealbenchDriver)
    driver.write_reg(0x80000200, 0xFFFF1234)
    assert driver.read(0x80000200) == 0xFFFF1234


def test_strategy_flashes_the_board_and_the_dump_matches(target, strategy, local_lab):
    strategy.transition("flashed")
    assert strategy.status == Status.flashed
    board = local_lab["boards"]["main"]
    target.deactivate(target.get_driver(SealbenchDriver))
    assert board.stop_board() == 0
    with open(local_lab["image"], "rb") as image, open(board.dump, "rb") as dump:
        expected = image.read()
        assert dump.read(len(expected)) == expected


def test_a_faulted_board_raises_with_the_failure_text(env):
    faulty = env.get_target("faulty")
    driver = faulty.get_driver(SealbenchDriver)
    with pytest.raises(ExecutionError) as raised:
        driver.mem_init("ddr")
    assert "sealbench-cli mem-init failed (exit 1)" in raised.value.msg
    assert "Error! - " in raised.value.msg
    assert any(line.startswith("Error! - ") for line in raised.value.stdout)


def test_bad_arguments_are_refused_before_the_board_is_touched(target):
    driver = target.get_driver(SealbenchDriver)
    with pytest.raises(ValueError):
        driver.flash("image.bin", flash_type="emmc")
    with pytest.raises(ValueError):
        driver.read(0x1_0000_0000)


def test_a_local_serial_port_is_passed_as_its_device(env, local_lab):
    direct = env.get_target("direct")
    driver = direct.get_driver(SealbenchDriver)
    direct.activate(driver)
    assert driver.port_name() == local_lab["boards"]["direct"].pty
    driver.write_reg(0xA0000010, 0x600DF00D)
    assert driver.read(0xA0000010) == 0x600DF00D


def test_an_image_whose_name_starts_with_a_dash_is_a_file(env, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "-image.bin").write_bytes(bytes(range(256)) * 64)
    direct = env.get_target("direct")
    driver = direct.get_driver(SealbenchDriver)
    direct.activate(driver)
    assert driver.flash("-image.bin")[-1] == "Flashing Completed"
