# bad input and long runs
