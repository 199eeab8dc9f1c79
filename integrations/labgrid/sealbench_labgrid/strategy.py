"""SealbenchStrategy: an example strategy that takes a Vireo board from its
boot ROM to a flashed image, for labgrid's ``strategy`` fixture and
``labgrid-client -s flashed``."""

import enum

import attr
from labgrid.factory import target_factory
from labgrid.step import step
from labgrid.strategy.common import Strategy, StrategyError


class Status(enum.Enum):
    unknown = 0
    bootrom = 1  # the board waits in its boot-ROM download mode
    flashed = 2  # the image of the environment is in the board's flash


@target_factory.reg_driver
@attr.s(eq=False)
class SealbenchStrategy(Strategy):
    """Boot ROM -> flashed.

    A board whose boot-mode straps select the boot ROM is there after a power
    cycle; when the target has a power driver the strategy cycles it, otherwise
    it takes the board to be in its boot ROM already.

    Args:
        image (str): the key of the image under the environment's ``images``
        flash_type (str): nor | nand | user
    """

    bindings = {
        "sealbench": "SealbenchDriver",
        "power": {"PowerProtocol", None},
    }

    image = attr.ib(default="flash", validator=attr.validators.instance_of(str))
    flash_type = attr.ib(default="nor", validator=attr.validators.instance_of(str))
    status = attr.ib(default=Status.unknown)

    @step(args=["status"])
    def transition(self, status, *, step):  # pylint: disable=redefined-outer-name
        if not isinstance(status, Status):
            status = Status[status]
        if status == Status.unknown:
            raise StrategyError(f"can not transition to {status}")
        if status == self.status:
            step.skip("nothing to do")
            return
        if status == Status.bootrom:
            if self.power is not None:
                self.target.activate(self.power)
                self.power.cycle()
            self.target.activate(self.sealbench)
        elif status == Status.flashed:
            self.transition(Status.bootrom)  # pylint: disable=missing-kwoa
            path = self.target.env.config.get_image_path(self.image)
            self.sealbench.flash(path, flash_type=self.flash_type)
        self.status = status

    @step(args=["status"])
    def force(self, status):
        if not isinstance(status, Status):
            status = Status[status]
        if status == Status.unknown:
            raise StrategyError(f"can not force state {status}")
        self.target.activate(self.sealbench)
        self.status = status
