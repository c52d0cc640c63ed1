N = 9

def fannkuch(n)
  perm = Array.new(n, 0)
  perm1 = (0...n).to_a
  count = Array.new(n, 0)
  max_flips = 0
  checksum = 0
  perm_count = 0
  r = n
  while true
    while r != 1
      count[r - 1] = r
      r = r - 1
    end
    i = 0
    while i < n
      perm[i] = perm1[i]
      i += 1
    end
    flips = 0
    k = perm[0]
    while k != 0
      i = 0
      j = k
      while i < j
        perm[i], perm[j] = perm[j], perm[i]
        i += 1
        j -= 1
      end
      flips = flips + 1
      k = perm[0]
    end
    max_flips = flips if flips > max_flips
    if perm_count % 2 == 0
      checksum = checksum + flips
    else
      checksum = checksum - flips
    end
    while true
      return [checksum, max_flips] if r == n
      perm0 = perm1[0]
      i = 0
      while i < r
        perm1[i] = perm1[i + 1]
        i += 1
      end
      perm1[r] = perm0
      count[r] = count[r] - 1
      break if count[r] > 0
      r = r + 1
    end
    perm_count = perm_count + 1
  end
end

checksum, max_flips = fannkuch(N)
raise "fannkuch" unless checksum == 8629 && max_flips == 30
puts "#{checksum} #{max_flips}"
