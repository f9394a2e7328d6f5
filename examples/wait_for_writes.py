"""Waiting until writes have reached a model's leaves; the examples share it.

A writer's `write` only queues its value: the reader thread of the channel puts
it into the leaves a moment later, each channel on its own thread. Before an
update that must see a step's writes, wait until every leaf that they feed
shows what they sent:

- a Probability or Boolean source `a`: the leaves `a` and `-a` (one minus it);
- a Number or Density source: each comparison leaf of its atom
  (`comparisons`) and its complement;
- a categorical source: the leaves of its categories, without complements.

docs/python.md ("Waiting for writes") explains the same recipe.
"""
import math
import re
import time

# A leaf drops a write that lies within 0.001 of its value (of the value's
# logarithm in LogProb and MaxProduct): the leaf then keeps what it holds, and
# the write changes no result. A value that close counts as arrived; the
# margin below 0.001 keeps a pending change from passing for one through
# rounding.
TOLERANCE = 0.000999
LOG_SPACE = ("logprob", "log_prob", "maxproduct", "max_product")


def comparisons(model, atom):
    """The comparison leaves of a Number or Density source, read off the
    model's leaf names: {leaf name: (is_greater, threshold)}.

    A comparison's leaf is named after the atom (every character other than a
    letter or digit as '_', outer '_' removed), gt or lt, and the threshold
    ('.' as '_', a minus sign as 'm'): temp(kitchen) > 30.5 is
    temp_kitchen_gt_30_5, level < -2 is level_lt_m2.
    """
    stem = re.escape(re.sub(r"\W", "_", atom).strip("_"))
    found = {}
    for name in model.get_names():
        match = re.fullmatch(stem + r"_(gt|lt)_(m?\d+(?:_\d+)?)", name)
        if match:
            found[name] = (match[1] == "gt", float(match[2].replace("m", "-").replace("_", ".")))
    return found


def with_complements(expected):
    """`expected` and, for each of its leaves, the complement leaf ("-" and
    the name) showing one minus each value."""
    both = dict(expected)
    for name, values in expected.items():
        both["-" + name] = [1.0 - value for value in values]
    return both


def settled(shown, wanted, semiring):
    """Whether a leaf that shows `shown` needs no further message to show `wanted`."""
    semiring = semiring.lower()
    if semiring == "boolean":
        wanted = 1.0 if wanted > 0.0 else 0.0  # the leaf stores whether the value is above 0
    if shown == wanted:
        return True
    if semiring in LOG_SPACE:
        return shown > 0.0 and wanted > 0.0 and abs(math.log(shown / wanted)) <= TOLERANCE
    return abs(shown - wanted) <= TOLERANCE


def wait_for_leaves(model, expected, semiring="LogProb", timeout=5.0):
    """Waits until every leaf named in `expected` ({leaf name: [one value per
    batch slot]}) shows its values; raises TimeoutError after `timeout`
    seconds. In ProbGradient only the probability slot is compared."""
    names = model.get_names()
    leaves = {name: names.index(name) for name in expected}  # ValueError for a name the model lacks
    deadline = time.monotonic() + timeout
    while True:
        values = model.get_values()
        late = [name for name, index in leaves.items()
                if not all(settled(shown, wanted, semiring) for shown, wanted in zip(values[index], expected[name]))]
        if not late:
            return
        if time.monotonic() > deadline:
            raise TimeoutError(f"the writes did not reach {', '.join(late)} within {timeout} s")
        time.sleep(0.001)
