"""Helpers shared by the tests: frames built for tests (frames), the real CSV
files (data) and the texts of the conversion refusals (messages)."""
