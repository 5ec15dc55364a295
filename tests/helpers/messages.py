"""The texts of the argument conversions' refusals, written once: every
parameter that takes a sequence or a text refuses with these."""

STR_AS_SEQUENCE = "Can't extract `str` to `Vec`"


def not_an_instance(type_name, wanted):
    """The refusal of an object of type `type_name` where `wanted` is needed."""
    if type_name == "None":
        return f"'None' is not an instance of '{wanted}'"
    return f"'{type_name}' object is not an instance of '{wanted}'"


def noted(parameter):
    return [f"while processing '{parameter}'"]
