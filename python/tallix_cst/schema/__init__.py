"""Schemas: what a Quarel file may hold, as a JSON Schema over its plain value
(`Document.unwrap()`), and the problems of a document against one, each where a person
would fix it."""

from tallix_cst.schema.places import Place
from tallix_cst.schema.problems import Problem
from tallix_cst.schema.refs import SchemaError
from tallix_cst.schema.schema import Schema

__all__ = ["Schema", "SchemaError", "Problem", "Place"]
