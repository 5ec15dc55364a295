"""A short tour of tarnwick: build a frame, read it back, see a refusal."""
import tarnwick

frame = tarnwick.Frame()
frame.add_strings("city", ["Oslo", "Lima", "Pune", "Oslo"])
frame.add_ints("year", [2021, 2022, 2022, 2023])
frame.add_floats("rain_mm", [763.0, 12.5, 722.4, 801.9])

print("columns:", list(zip(frame.names(), frame.dtypes())))
print("rows:", frame.height())
for name in frame.names():
    reader = {"i64": frame.ints, "f64": frame.floats, "str": frame.strings}[frame.dtypes()[frame.names().index(name)]]
    print(f"  {name}: {reader(name)}")

wet = frame.where_gt("rain_mm", 700).sort("year", True)
print("wet years, latest first:", wet.ints("year"), wet.strings("city"))
print("Oslo or Pune:", frame.where_in("city", ["Oslo", "Pune"]).head(2).floats("rain_mm"))

try:
    frame.floats("year")
except ValueError as error:
    print("refused:", error)

print(frame)
text = frame.to_csv()
print(text, end="")
again = tarnwick.read_csv(text)
print("read back:", again.describe(), again.floats("rain_mm") == frame.floats("rain_mm"))

try:
    tarnwick.read_csv('city,year\n"Oslo" ,2021\n')
except ValueError as error:
    print("refused:", error)
