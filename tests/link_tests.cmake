# tests for this area are registered here
