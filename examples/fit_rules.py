"""Fitting rule probabilities from observations.

A small diagnosis model: a fault shows as a high temperature and as noise,
and each rule says how likely the fault is given one symptom. The true
probabilities of the rules are unknown to the model (it starts at 0.5 for
both); observations are simulated from the true ones (0.8 and 0.3), and each
observation takes one gradient step on the rules' probabilities.

The model is compiled in the `ProbGradient` semiring: an update yields the
target's probability together with its derivatives by every leaf. For an
observation y (1.0 fault, 0.0 none) and the model's prediction p, the
squared error (p - y)^2 has the derivative dL/dp = 2 (p - y);
`fit_parameters` multiplies it (its `loss` argument) by the learning rate
and by the entry of each rule's cause leaf in the update's gradients, and
steps every rule's probability against it. That entry is not always the
derivative by the rule's probability: with both symptoms present the entry
of the first rule is 1, where dp/dP(rule 0) is 1 - P(rule 1) (see "Gradients
and fitting" in docs/python.md).

With its defaults (3000 observations, seed 1, rate 0.02) the fit ends at
0.844 and 0.254, not 0.80 and 0.30: at a constant rate each observation still
moves a rule by up to 0.04, so the fit ends wherever the last observations
left it (other seeds end between about 0.62 and 0.90 for the first rule);
the least-squares best for these 3000 observations is 0.81 and 0.29. Steps
summed over all the observations, one per pass, reach 0.81 and 0.29 in 40
passes at rate 0.0003 (the batch form of docs/python.md, "Small steps are
dropped").

    PYTHONPATH=build/release/src/python /usr/bin/python3 examples/fit_rules.py [--observations N]
"""
import argparse
import random

import tallo
from wait_for_writes import wait_for_leaves, with_complements

MODEL = """
hot <- source("/pump/hot", Boolean).
noisy <- source("/pump/noisy", Boolean).
fault <- P(0.5) if hot.
fault <- P(0.5) if noisy.
fault -> target("/pump/fault").
"""

TRUE = {"fault#0": 0.8, "fault#1": 0.3}  # the rules in model order: if hot, if noisy


def simulate(rng):
    """One observation: the symptoms, and whether the fault was there."""
    hot, noisy = rng.random() < 0.5, rng.random() < 0.5
    fault = (hot and rng.random() < TRUE["fault#0"]) or (noisy and rng.random() < TRUE["fault#1"])
    return hot, noisy, fault


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--observations", type=int, default=3000)
    parser.add_argument("--rate", type=float, default=0.02, help="learning rate")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    model = tallo.Tallo.compile(MODEL, semiring="ProbGradient")
    circuit = model.get_reactive_circuit()
    hot_writer, noisy_writer = model.make_writer_for("hot"), model.make_writer_for("noisy")
    groups = model.get_parameter_groups()  # {"fault#0": ["fault_cause_0"], "fault#1": ["fault_cause_1"]}
    names = model.get_names()

    def rule_probabilities():
        values = model.get_values()
        return {group: values[names.index(leaves[0])][0] for group, leaves in sorted(groups.items())}

    rng = random.Random(args.seed)
    result = None
    for n in range(1, args.observations + 1):
        hot, noisy, fault = simulate(rng)
        hot_writer.write(hot, None)
        noisy_writer.write(noisy, None)
        # Each source has its own reader thread: wait for both leaves and their complements.
        wait_for_leaves(model, with_complements({"hot": [float(hot)], "noisy": [float(noisy)]}), "ProbGradient")

        # An update reports the target only when it was recomputed: when neither
        # the symptoms nor the rules changed, the last result still holds.
        result = circuit.gradient_update().get("/pump/fault", result)
        p, y = result["probability"], 1.0 if fault else 0.0
        loss = 2.0 * (p - y)  # d(p - y)^2 / dp
        model.fit_parameters(result["gradients"], args.rate, loss, None, float(n))
        if n % max(1, args.observations // 5) == 0:
            shown = ", ".join(f"{group} = {value:.3f}" for group, value in rule_probabilities().items())
            print(f"after {n:5d} observations: {shown}")

    shown = ", ".join(f"{group} = {value:.2f}" for group, value in TRUE.items())
    print(f"true values:              {shown}")


if __name__ == "__main__":
    main()
