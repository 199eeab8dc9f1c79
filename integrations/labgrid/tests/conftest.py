"""Runs the driver's tests against a local lab unless --lg-env names a real one.

Without --lg-env this starts two virtual boards behind ser2net, "main" (healthy)
and "faulty" (its first register write is answered wrongly), and writes the
labgrid environment that describes them as NetworkSerialPort resources.
"""

import os
import shutil
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from local_lab import LocalBoard, ser2net_executable  # noqa: E402

IMAGE_SIZE = 0x6789


def _tool(variable, name):
    path = os.environ.get(variable) or shutil.which(name)
    return path if path and os.access(path, os.X_OK) else None


def pytest_configure(config):
    config.sealbench_lab = None
    if config.option.lg_env or os.environ.get("LG_ENV"):
        return
    sim = _tool("VIREO_SIM", "vireo-sim")
    cli = _tool("SEALBENCH_CLI", "sealbench-cli")
    missing = [what for what, found in (("vireo-sim (set VIREO_SIM)", sim), ("sealbench-cli (set SEALBENCH_CLI)", cli),
                                        ("ser2net (scripts/install-deps.sh installs it)", ser2net_executable()))
               if not found]
    if missing:
        config.sealbench_missing = ", ".join(missing)
        return
    workdir = tempfile.mkdtemp(prefix="sealbench-labgrid-")
    boards = {}
    try:
        boards["main"] = LocalBoard(sim, "VireoC_TO2", workdir, ["--flashlib", "model"])
        boards["faulty"] = LocalBoard(sim, "VireoC_TO2", workdir, ["--fault", "reg-word:1"])
        boards["direct"] = LocalBoard(sim, "VireoB", workdir, exported=False)
    except Exception:
        for board in boards.values():
            board.stop()
        raise
    image = os.path.join(workdir, "image.bin")
    with open(image, "wb") as out:
        out.write(bytes((i * 7 + (i >> 8)) & 0xFF if i % 5 else 0xFF for i in range(IMAGE_SIZE)))
    env = os.path.join(workdir, "environment.yaml")
    with open(env, "w", encoding="utf-8") as out:
        out.write("targets:\n")
        for name, board in boards.items():
            if name == "direct":
                # A board on this machine's own port: its pty, no ser2net in between.
                out.write(f"  {name}:\n"
                          "    resources:\n"
                          "      RawSerialPort:\n"
                          f"        port: {board.pty}\n"
                          "    drivers:\n"
                          "      SealbenchDriver:\n"
                          "        cpu: VireoB\n"
                          f"        executable: {cli}\n")
                continue
            out.write(f"  {name}:\n"
                      "    resources:\n"
                      "      NetworkSerialPort:\n"
                      "        host: 127.0.0.1\n"
                      f"        port: {board.port}\n"
                      "        speed: 115200\n"
                      "        protocol: rfc2217\n"
                      "    drivers:\n"
                      "      SealbenchDriver:\n"
                      "        cpu: VireoC_TO2\n"
                      f"        executable: {cli}\n"
                      "      SealbenchStrategy:\n"
                      "        image: flash\n")
        out.write(f"images:\n  flash: {image}\nimports:\n  - sealbench_labgrid\n")
    config.option.lg_env = env
    config.sealbench_lab = {"dir": workdir, "boards": boards, "image": image}


def pytest_collection_modifyitems(config, items):
    missing = getattr(config, "sealbench_missing", None)
    if missing:
        for item in items:
            item.add_marker(pytest.mark.skip(reason=f"no local lab: missing {missing}"))


def pytest_unconfigure(config):
    lab = getattr(config, "sealbench_lab", None)
    if lab:
        for board in lab["boards"].values():
            board.stop()
        shutil.rmtree(lab["dir"], ignore_errors=True)


@pytest.fixture(scope="session")
def local_lab(pytestconfig):
    if not pytestconfig.sealbench_lab:
        pytest.skip("these checks need the local lab (run without --lg-env)")
    return pytestconfig.sealbench_lab
