"""A tour of tarnwick: the typical road from CSV text to an aggregate and back,
on generated weather readings."""
import random

import tarnwick

CITIES = ["Oslo", "Lima", "Pune", "Perth", "Quito", "Tromsø", "Accra", "Hanoi"]


def generated_csv(rows):
    """Readings as CSV text: some rain values missing, some notes quoted."""
    rng = random.Random(7)
    lines = ["station,city,date,rain_mm,note"]
    for i in range(rows):
        city = rng.choice(CITIES)
        date = f"{rng.randint(2019, 2024)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        rain = "" if rng.random() < 0.03 else repr(round(rng.expovariate(1 / 6), 1))
        note = rng.choice(["", "ok", '"gauge 2, cleaned"', "late"])
        lines.append(f"{i % 97},{city},{date},{rain},{note}")
    return "\n".join(lines) + "\n"


text = generated_csv(200_000)
readings = tarnwick.read_csv(text)
print(f"read {len(text) / 1e6:.1f} MB of CSV:", readings)

# Keep the wet days, add the year, and sum the rain per city and year.
wet = readings.where_gt("rain_mm", 10.0)
wet.add_date_part("year", "date", "year")
totals = wet.group(["city", "year"]).sum("rain_mm").sort("rain_mm", True)
print(f"{wet.height()} wet readings in", wet.group(["city", "year"]))
print("wettest city-years:")
print(totals.head(5).to_csv(), end="")

# Missing values take no part in a mean; the count counts every row.
by_city = readings.group(["city"])
means = by_city.mean("rain_mm")
counts = by_city.count()
for city, mean, count in zip(means.strings("city"), means.floats("rain_mm"), counts.ints("count")):
    print(f"  {city:7} {count:6} readings, mean {mean:5.2f} mm")

# Every refusal is a ValueError with an exact message.
for attempt in [lambda: readings.floats("city"),
                lambda: readings.where_gt("note", 1),
                lambda: by_city.sum("note"),
                lambda: tarnwick.read_csv('a,b\n1,"2" x\n')]:
    try:
        attempt()
    except ValueError as error:
        print("refused:", error)

# What to_csv writes, read_csv reads back to the same columns.
again = tarnwick.read_csv(totals.to_csv())
print("round trip keeps the totals:", again.floats("rain_mm") == totals.floats("rain_mm"))
