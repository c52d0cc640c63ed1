def fib(n)
  return n if n < 2
  fib(n - 1) + fib(n - 2)
end
r = fib(27)
raise "fib" unless r == 196418
puts r
